// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilterParameterInfo.h"

#include "kelaudiofilterhost/framework/AudioFilterEditor.h"

#include <gtest/gtest.h>

namespace kelaudiofilterhost {
namespace {

// Overrides only what a back end must supply.
class LinearParameterInfo : public AudioFilterParameterInfo {
public:
    using AudioFilterParameterInfo::AudioFilterParameterInfo;
    float PlainToNormalized(float plain) override { return plain / 10.0f; }
    float NormalizedToPlain(float normalized) override { return normalized * 10.0f; }
    UTF16String GetStringForValue(float normalized) override
    {
        kelcore::oUTF16StringStream text;
        text << NormalizedToPlain(normalized);
        return text.str();
    }
};

class MinimalEditor : public AudioFilterEditor {
public:
    kelcore::geom::RectT<long> GetContentRect() override { return {0, 0, 400, 300}; }
    int Open(void* /*parent*/) override { return 1; }
    void Close() override {}
    void Idle() override {}
    bool GetEditorFlag() override { return true; }
};

TEST(AudioFilterParameterInfo, DefaultsOfBothConstructorsAndOfTheVirtuals)
{
    boost::intrusive_ptr<AudioFilterParameterInfo> plain(new LinearParameterInfo);
    boost::intrusive_ptr<AudioFilterParameterInfo> named(
        new LinearParameterInfo(u"Gain", u"dB", static_cast<AudioFilterParameterInfoUnit>(5)));
    EXPECT_EQ(plain->GetName(), u"");
    EXPECT_EQ(plain->GetLabel(), u"");
    EXPECT_EQ(plain->GetUnit(), kParameterUnitNone);
    EXPECT_EQ(named->GetName(), u"Gain");
    EXPECT_EQ(named->GetLabel(), u"dB");
    EXPECT_EQ(named->GetUnit(), 5);
    for (const auto& info : {plain, named}) {
        EXPECT_TRUE(info->IsExposed());
        EXPECT_FALSE(info->CanRamp());
        EXPECT_TRUE(info->CanBeAutomated());
        EXPECT_TRUE(info->SupportsStringForArbitraryValues());
        EXPECT_EQ(info->GetStepCount(), 0);
    }
    EXPECT_EQ(named->GetStringForValue(0.25f), u"2.5");
}

TEST(AudioFilterEditor, RefusesFocusAndDisconnectsItsSignalsWhenDestroyed)
{
    boost::intrusive_ptr<AudioFilterEditor> editor(new MinimalEditor);
    editor->SetBrightness(0.5f, true);
    EXPECT_FALSE(editor->GainFocus(true));
    EXPECT_FALSE(editor->GainFocus(false));
    EXPECT_FALSE(editor->SetCurrentFocus());

    auto sizeConnection = editor->GetContentSizeChangedSignal().connect([] {});
    auto focusConnection = editor->GetAdvanceFocusSignal().connect([](bool) {});
    editor.reset();
    EXPECT_FALSE(sizeConnection.connected());
    EXPECT_FALSE(focusConnection.connected());
}

} // namespace
} // namespace kelaudiofilterhost
