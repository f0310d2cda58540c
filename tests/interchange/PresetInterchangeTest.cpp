// SPDX-License-Identifier: GPL-3.0-or-later
// Preset files of other hosts: reference files built here from the published layouts, imported into
// and exported from our own VST 2 and VST 3 test plug-ins; VST 3 files checked against the SDK's code.
#include "kelaudiofilterhost/interchange/FxFormat.h"
#include "kelaudiofilterhost/interchange/PresetInterchange.h"
#include "kelaudiofilterhost/interchange/VstPresetFormat.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3MemoryStream.h"
#include "testplugins/vst2/TestPluginIds.h"
#include "tests/services/TempTree.h"
#include "tests/support/Vst2TestSupport.h"
#include "tests/support/Vst3TestSupport.h"

#include <public.sdk/source/vst/vstpresetfile.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kelaudiofilterhost::interchange {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// A reference file, byte by byte, as the published layout gives it (big-endian).
struct Layout {
    Layout& Text(const char* text, std::size_t size)
    {
        const std::size_t length = std::strlen(text);
        bytes.insert(bytes.end(), text, text + std::min(length, size));
        bytes.insert(bytes.end(), size - std::min(length, size), 0);
        return *this;
    }
    Layout& Int(std::int32_t value)
    {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> shift));
        }
        return *this;
    }
    Layout& Float(float value) { return Int(std::bit_cast<std::int32_t>(value)); }
    Layout& Raw(const Bytes& raw)
    {
        bytes.insert(bytes.end(), raw.begin(), raw.end());
        return *this;
    }
    Bytes bytes;
};

Layout ProgramHeader(const char* fxMagic, std::int32_t id, std::int32_t count, std::int32_t byteSize, const char* name)
{
    Layout layout;
    layout.Text("CcnK", 4).Int(byteSize).Text(fxMagic, 4).Int(1).Int(id).Int(1).Int(count).Text(name, 28);
    return layout;
}

class PresetInterchange : public ::testing::Test {
protected:
    fs::path Write(const char* name, const Bytes& bytes)
    {
        const fs::path path = mFolder / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    Bytes Read(const fs::path& path)
    {
        std::string text;
        EXPECT_TRUE(kelcore::filesupport::ReadRegularFile(path, text));
        return Bytes(text.begin(), text.end());
    }

    kafhtest::TempTree mTree;
    const fs::path& mFolder = mTree.Root();
};

TEST_F(PresetInterchange, Vst2ProgramsAndBanksMatchThePublishedLayoutBothWays)
{
    auto gain = testing::OpenTestEffect("KafhGain", kafhtest::kGainId);
    ASSERT_NE(gain, nullptr);
    // Parameters: 56-byte header, then big-endian floats; the size counts what follows it.
    const Bytes program = ProgramHeader("FxCk", kafhtest::kGainId, 2, 48 + 8, "").Float(0.25f).Float(0.75f).bytes;
    std::string error;
    std::string warning;
    ASSERT_TRUE(ImportPresetFile(*gain, Write("in.fxp", program), error, warning)) << error;
    EXPECT_TRUE(warning.empty()) << warning;
    EXPECT_FLOAT_EQ(gain->GetParameter(0), 0.25f);
    EXPECT_FLOAT_EQ(gain->GetParameter(1), 0.75f);
    const fs::path out = mFolder / "out.fxp";
    ASSERT_TRUE(ExportPresetFile(*gain, out, error)) << error;
    const Bytes written = Read(out);
    // The name is the effect's own program name; everything else is what was read.
    ASSERT_EQ(written.size(), program.size());
    EXPECT_TRUE(std::equal(written.begin(), written.begin() + 28, program.begin()));
    EXPECT_TRUE(std::equal(written.end() - 8, written.end(), program.end() - 8));

    // A bank of parameters loads its current program (format 2).
    Layout bank;
    bank.Text("CcnK", 4).Int(0).Text("FxBk", 4).Int(2).Int(kafhtest::kGainId).Int(1).Int(2).Int(1).Text("", 124);
    bank.Raw(ProgramHeader("FxCk", kafhtest::kGainId, 2, 56, "A").Float(0.1f).Float(0.2f).bytes);
    bank.Raw(ProgramHeader("FxCk", kafhtest::kGainId, 2, 56, "B").Float(0.3f).Float(0.4f).bytes);
    ASSERT_TRUE(ImportPresetFile(*gain, Write("in.fxb", bank.bytes), error, warning)) << error;
    EXPECT_FLOAT_EQ(gain->GetParameter(0), 0.3f);
    EXPECT_EQ(gain->GetPresetNameAndDirtyState().first, u"B");
    ASSERT_TRUE(ExportPresetFile(*gain, mFolder / "out.fxb", error)) << error;
    FxBank exported;
    ASSERT_TRUE(ParseFxBank(Read(mFolder / "out.fxb"), exported, error)) << error;
    ASSERT_EQ(exported.programs.size(), 1u);
    EXPECT_EQ(exported.programs[0].parameters, (std::vector<float>{0.3f, 0.4f}));

    // Chunk plug-ins: the chunk as the plug-in gives it, program and bank alike.
    auto chunk = testing::OpenTestEffect("KafhChunk", kafhtest::kChunkId);
    ASSERT_NE(chunk, nullptr);
    chunk->SetParameter(0, 0.5f);
    for (const char* name : {"chunk.fxp", "chunk.fxb"}) {
        ASSERT_TRUE(ExportPresetFile(*chunk, mFolder / name, error)) << error;
        auto fresh = testing::OpenTestEffect("KafhChunk", kafhtest::kChunkId);
        ASSERT_TRUE(ImportPresetFile(*fresh, mFolder / name, error, warning)) << name << ": " << error;
        EXPECT_FLOAT_EQ(fresh->GetParameter(0), 0.5f) << name;
    }
    const Bytes file = Read(mFolder / "chunk.fxp");
    EXPECT_EQ(Bytes(file.begin() + 8, file.begin() + 12), Layout().Text("FPCh", 4).bytes);
}

TEST_F(PresetInterchange, FilesOfOtherPlugInsAndDamagedFilesAreRefusedWithAReason)
{
    auto gain = testing::OpenTestEffect("KafhGain", kafhtest::kGainId);
    ASSERT_NE(gain, nullptr);
    std::string error;
    std::string warning;
    const Bytes other = ProgramHeader("FxCk", kafhtest::kChunkId, 2, 56, "").Float(0.1f).Float(0.2f).bytes;
    EXPECT_FALSE(ImportPresetFile(*gain, Write("other.fxp", other), error, warning));
    EXPECT_NE(error.find("unique ID 4B66436B, not 4B66476E"), std::string::npos) << error;
    Bytes versioned = ProgramHeader("FxCk", kafhtest::kGainId, 2, 56, "").Float(0.6f).Float(0.2f).bytes;
    versioned[23] = 7; // plug-in version 7
    EXPECT_TRUE(ImportPresetFile(*gain, Write("v7.fxp", versioned), error, warning)) << error;
    EXPECT_NE(warning.find("version 7"), std::string::npos) << warning;
    for (std::size_t cut : {std::size_t{0}, std::size_t{10}, std::size_t{55}, versioned.size() - 1}) {
        error.clear();
        EXPECT_FALSE(ImportPresetFile(*gain, Write("cut.fxp", Bytes(versioned.begin(), versioned.begin() + cut)),
                                      error, warning)) << cut;
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_FALSE(error.empty());
    }
    // A chunk file for a plug-in of parameters; a VST 3 file for a VST 2 plug-in.
    const Bytes chunkFile = ProgramHeader("FPCh", kafhtest::kGainId, 0, 60, "").Int(0).bytes;
    EXPECT_FALSE(ImportPresetFile(*gain, Write("chunk.fxp", chunkFile), error, warning));
    EXPECT_FALSE(ImportPresetFile(*gain, Write("x.vstpreset", versioned), error, warning));
    EXPECT_FALSE(ExportPresetFile(*gain, mFolder / "x.txt", error));
}

constexpr auto* Vst3 = &testing::OpenTestBundle;

TEST_F(PresetInterchange, Vst3PresetFilesRoundTripAndAgreeWithTheSdk)
{
    auto gain = Vst3("KafhVst3Gain", kafh_testplugins_vst3::kGainProcessor);
    ASSERT_NE(gain, nullptr);
    gain->SetFactoryPreset(3); // Mute: gain 0 and program 3 in the controller's state
    std::string error;
    std::string warning;
    const fs::path file = mFolder / "mute.vstpreset";
    ASSERT_TRUE(ExportPresetFile(*gain, file, error)) << error;

    // The SDK's own reader finds our class, component and controller states.
    const Bytes bytes = Read(file);
    auto* stream = new vst3::VST3MemoryStream();
    stream->SetSize(bytes.size());
    std::copy(bytes.begin(), bytes.end(), stream->GetData());
    {
        Steinberg::Vst::PresetFile sdk(stream);
        ASSERT_TRUE(sdk.readChunkList());
        Steinberg::TUID tuid;
        sdk.getClassID().toTUID(tuid);
        EXPECT_EQ(vst3::ClassIDFromTUID(tuid), gain->GetClassID());
        EXPECT_TRUE(sdk.contains(Steinberg::Vst::kComponentState));
        EXPECT_TRUE(sdk.contains(Steinberg::Vst::kControllerState));
    }
    stream->release();

    auto fresh = Vst3("KafhVst3Gain", kafh_testplugins_vst3::kGainProcessor);
    ASSERT_TRUE(ImportPresetFile(*fresh, file, error, warning)) << error;
    EXPECT_FLOAT_EQ(fresh->GetParameter(0), 0.0f);

    // A file the SDK's writer made, for a class without controller state, is read by ours.
    VstPreset sdkMade;
    sdkMade.classID = fresh->GetClassID();
    sdkMade.componentState = {'K', 'G', 'a', 'n'};
    const fs::path sdkFile = mFolder / "sdk.vstpreset";
    auto* out = Steinberg::Vst::FileStream::open(sdkFile.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    auto* component = new vst3::VST3MemoryStream();
    std::int32_t written = 0;
    component->write(sdkMade.componentState.data(), 4, &written);
    component->seek(0, Steinberg::IBStream::kIBSeekSet, nullptr);
    Steinberg::TUID tuid;
    vst3::ClassIDToTUID(sdkMade.classID, tuid);
    ASSERT_TRUE(Steinberg::Vst::PresetFile::savePreset(out, Steinberg::FUID::fromTUID(tuid), component));
    out->release(); // closes the file
    VstPreset read;
    ASSERT_TRUE(ParseVstPreset(Read(sdkFile), read, error)) << error;
    EXPECT_EQ(read.componentState, sdkMade.componentState);
    EXPECT_TRUE(read.controllerState.empty());
    component->release();

    // Another class's file is refused; a cut file too.
    auto single = Vst3("KafhVst3Single", kafh_testplugins_vst3::kSingle);
    ASSERT_NE(single, nullptr);
    EXPECT_FALSE(ImportPresetFile(*single, file, error, warning));
    EXPECT_NE(error.find("is for the VST 3 class"), std::string::npos) << error;
    EXPECT_FALSE(ImportPresetFile(*fresh, Write("cut.vstpreset", Bytes(bytes.begin(), bytes.begin() + 40)), error,
                                  warning));
}

} // namespace
} // namespace kelaudiofilterhost::interchange
