// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/Debug.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace kelcore {
namespace {

using debug::DebugDatabase;

TEST(DebugDatabase, ReadsTypedEntriesFromTheEnvironment)
{
    struct BoolCase {
        const char* text;
        bool whenDefaultFalse;
        bool whenDefaultTrue;
    };
    const BoolCase bools[] = {
        {"true", true, true},   {"TRUE", true, true},    {"1", true, true},      {"Yes", true, true},
        {"on", true, true},     {"false", false, false}, {"False", false, false}, {"0", false, false},
        {"NO", false, false},   {"off", false, false},   {"", false, true},      {"maybe", false, true},
        {"true ", false, true}, {"2", false, true},
    };
    for (const BoolCase& c : bools) {
        setenv("KAFH_DEBUG_TestSwitch", c.text, 1);
        EXPECT_EQ(DebugDatabase::Instance().GetEntry("TestSwitch", false), c.whenDefaultFalse) << c.text;
        EXPECT_EQ(DebugDatabase::Instance().GetEntry("TestSwitch", true), c.whenDefaultTrue) << c.text;
    }

    struct NumberCase {
        const char* text;
        std::int32_t expected;
    };
    const NumberCase numbers[] = {
        {"42", 42}, {"-7", -7}, {"+5", 5},   {"2147483647", 2147483647}, {"2147483648", -1},
        {"", -1},   {"4x", -1}, {" 4", -1},  {"+-4", -1},                {"0x10", -1},
    };
    for (const NumberCase& c : numbers) {
        setenv("KAFH_DEBUG_TestNumber", c.text, 1);
        EXPECT_EQ(DebugDatabase::Instance().GetEntry("TestNumber", std::int32_t{-1}), c.expected) << c.text;
    }

    setenv("KAFH_DEBUG_TestText", "some text", 1);
    EXPECT_EQ(DebugDatabase::Instance().GetEntry("TestText", UTF8String("default")), "some text");
    // A literal default must stay text, not turn into the bool overload.
    EXPECT_EQ(DebugDatabase::Instance().GetEntry("TestAbsent", "false"), "false");
    EXPECT_EQ(DebugDatabase::Instance().GetEntry("TestAbsent", true), true);
    EXPECT_EQ(DebugDatabase::Instance().GetEntry("", UTF8String("empty key")), "empty key");

    unsetenv("KAFH_DEBUG_TestSwitch");
    unsetenv("KAFH_DEBUG_TestNumber");
    unsetenv("KAFH_DEBUG_TestText");
}

TEST(DebugDatabase, OverridesHideTheEnvironmentUntilRemoved)
{
    setenv("KAFH_DEBUG_DisableVSTCustomUI", "true", 1);
    DebugDatabase& database = DebugDatabase::Instance();
    database.SetEntry("DisableVSTCustomUI", "off");
    EXPECT_FALSE(database.GetEntry("DisableVSTCustomUI", true));
    database.RemoveEntry("DisableVSTCustomUI");
    EXPECT_TRUE(database.GetEntry("DisableVSTCustomUI", false));
    unsetenv("KAFH_DEBUG_DisableVSTCustomUI");
    EXPECT_FALSE(database.GetEntry("DisableVSTCustomUI", false));
}

TEST(Localizer, KeysGiveTranslationOrDefaultTextAndOtherTextStaysAsItIs)
{
    // Translations cannot be removed: each run of the test uses keys of its own.
    static int run = 0;
    const std::string root = "$$$/Test" + std::to_string(++run) + "/";
    config::Localizer& localizer = config::Localizer::Get();
    struct Case {
        std::string key;
        std::u16string expected;
    };
    const Case before[] = {
        {root + "Category/Delay=Delay", u"Delay"},
        {root + "Equals=a=b", u"a=b"},
        {root + "Empty=", u""},
        {root + "NoDefault", UTF8to16(root + "NoDefault")},
        {"Plain text", u"Plain text"},
        {"$$/Test/Short=x", u"$$/Test/Short=x"},
        {root + "Unicode=Grüße", u"Grüße"},
    };
    for (const Case& c : before) {
        EXPECT_EQ(localizer.GetText(c.key), c.expected) << c.key;
    }

    localizer.SetText(root + "Category/Delay", u"Verzögerung");
    localizer.SetText(root + "Equals=ignored default", u"übersetzt");
    const Case after[] = {
        {root + "Category/Delay=Delay", u"Verzögerung"},
        {root + "Category/Delay=Another default", u"Verzögerung"},
        {root + "Equals=a=b", u"übersetzt"},
        {root + "Category=Category", u"Category"},
        {root + "Category/Delay/More=More", u"More"},
    };
    for (const Case& c : after) {
        EXPECT_EQ(localizer.GetText(c.key), c.expected) << c.key;
    }
}

TEST(Locale, ComesFromTheApplicationElseLcAllElseLang)
{
    struct NameCase {
        const char* name;
        const char* identifier;
    };
    const NameCase names[] = {
        {"de_DE.UTF-8", "de_DE"}, {"de_DE@euro", "de_DE"}, {"fr_CA.ISO-8859-1@x", "fr_CA"}, {"ja", "ja"},
        {"C", "en_US"},           {"C.UTF-8", "en_US"},    {"POSIX", "en_US"},              {"", "en_US"},
        {".UTF-8", "en_US"},
    };
    for (const NameCase& c : names) {
        EXPECT_EQ(Locale::IdentifierFromLocaleName(c.name), c.identifier) << c.name;
    }

    const char* savedAll = std::getenv("LC_ALL");
    const char* savedLang = std::getenv("LANG");
    const std::string keepAll = savedAll != nullptr ? savedAll : "";
    const std::string keepLang = savedLang != nullptr ? savedLang : "";

    setenv("LC_ALL", "", 1);
    setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(Locale::Default().GetIdentifier(), "de_DE");
    EXPECT_EQ(Locale::Default().GetLanguage(), "de");
    setenv("LC_ALL", "fr_FR@euro", 1);
    EXPECT_EQ(Locale::Default().GetIdentifier(), "fr_FR");
    unsetenv("LC_ALL");
    unsetenv("LANG");
    EXPECT_EQ(Locale::Default().GetIdentifier(), "en_US");

    Locale::SetDefault("it_IT");
    setenv("LANG", "de_DE", 1);
    EXPECT_EQ(Locale::Default().GetIdentifier(), "it_IT");
    Locale::SetDefault("");
    EXPECT_EQ(Locale::Default().GetIdentifier(), "de_DE");

    savedAll != nullptr ? setenv("LC_ALL", keepAll.c_str(), 1) : unsetenv("LC_ALL");
    savedLang != nullptr ? setenv("LANG", keepLang.c_str(), 1) : unsetenv("LANG");
}

TEST(Config, ThrowErrorTracesAndReturns)
{
    std::vector<std::string> lines;
    debug::SetTraceSink([&lines](std::string_view line) { lines.emplace_back(line); });
    debug::SetTraceConfiguration("kelcore::ThrowError=1");
    config::ThrowError("index 7 out of range");
    debug::SetTraceConfiguration("kelcore::ThrowError=0");
    config::ThrowError("not traced");
    debug::SetTraceSink({});
    debug::ResetTraceConfiguration();

    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "<" + std::to_string(threads::GetCurrentThreadID())
                            + "> <kelcore::ThrowError> <1> index 7 out of range\n");
}

TEST(HighPrecisionTime, IsMonotonicAndConvertsToNanoseconds)
{
    using utility::HighPrecisionTime;
    const std::int64_t start = HighPrecisionTime::GetTickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    const std::int64_t end = HighPrecisionTime::GetTickCount();
    const std::int64_t elapsed = HighPrecisionTime::ConvertToNanos(end - start);
    EXPECT_GE(elapsed, 3'000'000);
    EXPECT_LT(elapsed, 3'000'000'000);
    EXPECT_GE(HighPrecisionTime::ConvertToNanos(HighPrecisionTime::GetTickCount()),
              HighPrecisionTime::ConvertToNanos(end));
}

} // namespace
} // namespace kelcore
