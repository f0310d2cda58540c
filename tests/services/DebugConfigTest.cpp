// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/Debug.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>

using namespace kelcore;
using debug::DebugDatabase;

TEST(DebugDatabase, ReadsTypedEntriesFromOverridesElseTheEnvironment)
{
    DebugDatabase& database = DebugDatabase::Instance();
    // Each text with the result when the default is false and when it is true.
    const std::tuple<const char*, bool, bool> bools[] = {
        {"TRUE", true, true},    {"1", true, true},   {"Yes", true, true},  {"on", true, true},
        {"False", false, false}, {"0", false, false}, {"NO", false, false}, {"off", false, false},
        {"", false, true},       {"true ", false, true},
    };
    for (const auto& [text, whenDefaultFalse, whenDefaultTrue] : bools) {
        setenv("KAFH_DEBUG_TestSwitch", text, 1);
        EXPECT_EQ(database.GetEntry("TestSwitch", false), whenDefaultFalse) << text;
        EXPECT_EQ(database.GetEntry("TestSwitch", true), whenDefaultTrue) << text;
    }
    const std::pair<const char*, std::int32_t> numbers[] = {
        {"-7", -7}, {"+5", 5}, {"2147483647", 2147483647}, {"2147483648", -1}, {"", -1}, {"4x", -1}, {"+-4", -1},
    };
    for (const auto& [text, expected] : numbers) {
        setenv("KAFH_DEBUG_TestNumber", text, 1);
        EXPECT_EQ(database.GetEntry("TestNumber", std::int32_t{-1}), expected) << text;
    }
    setenv("KAFH_DEBUG_TestText", "some text", 1);
    EXPECT_EQ(database.GetEntry("TestText", UTF8String("default")), "some text");
    // A literal default must stay text, not turn into the bool overload.
    EXPECT_EQ(database.GetEntry("TestAbsent", "false"), "false");
    EXPECT_EQ(database.GetEntry("TestAbsent", true), true);
    EXPECT_EQ(database.GetEntry("", UTF8String("empty key")), "empty key");

    // Overrides hide the environment until removed.
    database.SetEntry("TestText", "override");
    EXPECT_EQ(database.GetEntry("TestText", UTF8String("default")), "override");
    database.RemoveEntry("TestText");
    EXPECT_EQ(database.GetEntry("TestText", UTF8String("default")), "some text");
}

TEST(Localizer, KeysGiveTranslationOrDefaultTextAndOtherTextStaysAsItIs)
{
    // Translations cannot be removed: each run of the test uses keys of its own.
    static int run = 0;
    const std::string root = "$$$/Test" + std::to_string(++run) + "/";
    config::Localizer& localizer = config::Localizer::Get();
    localizer.SetText(root + "Category/Delay", u"Verzögerung");
    localizer.SetText(root + "Translated=ignored default", u"übersetzt");
    const std::pair<std::string, std::u16string> cases[] = {
        {root + "Category/Delay=Delay", u"Verzögerung"}, {root + "Translated=a=b", u"übersetzt"},
        {root + "Category=Category", u"Category"},       {root + "Category/Delay/More=More", u"More"},
        {root + "Equals=a=b", u"a=b"},                   {root + "Empty=", u""},
        {root + "NoDefault", UTF8to16(root + "NoDefault")}, {"Plain text", u"Plain text"},
        {"$$/Test/Short=x", u"$$/Test/Short=x"},
    };
    for (const auto& [key, expected] : cases) {
        EXPECT_EQ(localizer.GetText(key), expected) << key;
    }
}

TEST(Locale, ComesFromTheApplicationElseLcAllElseLang)
{
    const std::pair<const char*, const char*> names[] = {
        {"de_DE.UTF-8", "de_DE"}, {"de_DE@euro", "de_DE"}, {"ja", "ja"}, {"C.UTF-8", "en_US"}, {"POSIX", "en_US"},
        {"", "en_US"},
    };
    for (const auto& [name, identifier] : names) {
        EXPECT_EQ(Locale::IdentifierFromLocaleName(name), identifier) << name;
    }

    // Restored as empty when unset: the library treats an empty variable as unset.
    const std::string savedAll = std::getenv("LC_ALL") ? std::getenv("LC_ALL") : "";
    const std::string savedLang = std::getenv("LANG") ? std::getenv("LANG") : "";
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
    setenv("LC_ALL", savedAll.c_str(), 1);
    setenv("LANG", savedLang.c_str(), 1);
}
