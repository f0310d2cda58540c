// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/PropList.h"

#include "kelaudiofilterhost/services/File.h"

#include "TempTree.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <numeric>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelcore;
using namespace kelcore::proplist;
using namespace kafhtest;

namespace {

// A list with every value type, a nested child and an empty child.
PropList MakeSample()
{
    PropList list;
    list.SetValue("version", std::uint32_t{2});
    list.SetValue("count", std::int32_t{-7});
    list.SetValue("enabled", true);
    list.SetValue("gain", 0.1f);
    list.SetValue("name", UTF8String("Gain \xF0\x9F\x8E\xB5"));
    list.SetValue("levels", PropList::FloatList{0.5f, -0.0f, 1e-45f});
    list.SetValue("silence", PropList::FloatList{});
    PropList* child = list.CreateChild("descriptor0");
    child->SetValue("path", UTF16String(u"/usr/lib/vst3/\u00DCber.vst3"));
    child->CreateChild("nested")->SetValue("deep", false);
    list.CreateChild("empty");
    return list;
}

PropList RoundTrip(const PropList& list)
{
    UTF8String xml;
    EXPECT_TRUE(utils::WritePropList(list, xml));
    PropList read;
    EXPECT_TRUE(utils::ReadPropList(xml, read)) << xml;
    return read;
}

} // namespace

TEST(PropList, TypedGettersConvertOnlyWhatFitsAndElseLeaveTheOutValue)
{
    PropList list = MakeSample();
    list.SetValue("large", std::uint32_t{0x80000000u});
    list.SetValue("positive", std::int32_t{0x7fffffff});
    const auto refused = [&list](const char* key, auto value) {
        const auto before = value;
        EXPECT_FALSE(list.GetValue(key, value)) << key;
        EXPECT_EQ(value, before) << key;
    };
    refused("missing", std::int32_t{99});
    refused("gain", std::int32_t{99});
    refused("large", std::int32_t{99});
    refused("count", std::uint32_t{99}); // negative does not fit
    refused("count", 9.5f);
    refused("name", true);
    refused("gain", UTF8String("keep"));
    refused("descriptor0", UTF16String(u"keep"));
    refused("name", PropList::FloatList{3.0f});
    EXPECT_EQ(list.GetChild("name"), nullptr);
    EXPECT_FALSE(list.HasValue("descriptor0"));

    // Integers convert when the value fits; UTF-8 and UTF-16 text are one value.
    const auto got = [](const PropList& from, const char* key, auto value) {
        EXPECT_TRUE(from.GetValue(key, value)) << key;
        return value;
    };
    EXPECT_EQ(got(list, "version", std::int32_t{0}), 2);
    EXPECT_EQ(got(list, "positive", std::uint32_t{0}), 0x7fffffffu);
    EXPECT_EQ(got(list, "name", UTF16String()), u"Gain \U0001F3B5");
    EXPECT_EQ(got(*list.GetChild("descriptor0"), "path", UTF8String()), "/usr/lib/vst3/\xC3\x9C" "ber.vst3");
}

TEST(PropList, KeysAreInByteOrderAndHoldOneValueOrOneChild)
{
    PropList list;
    for (const char* key : {"b", "\xC3\xA9", "B", "a10", "a9", "", "a"}) {
        list.SetValue(key, true);
    }
    EXPECT_EQ(list.GetKeys(), (std::vector<UTF8String>{"", "B", "a", "a10", "a9", "b", "\xC3\xA9"}));
    list = PropList();
    list.CreateChild("k")->SetValue("inner", 1);
    list.SetValue("k", 2.0f);
    EXPECT_EQ(list.GetChild("k"), nullptr);
    PropList* child = list.CreateChild("k");
    ASSERT_TRUE(child != nullptr && child->IsEmpty());
    EXPECT_EQ(list.CreateChild("k"), child); // an existing child is kept
    EXPECT_EQ(list.GetSize(), 1u);
    EXPECT_TRUE(list.RemoveValue("k"));
    EXPECT_FALSE(list.RemoveValue("k"));
    EXPECT_TRUE(list.IsEmpty());
}

TEST(PropList, CopiesAreDeepCompareEqualAndMergesLetTheOtherListWin)
{
    const PropList original = MakeSample();
    PropList copy = original;
    EXPECT_EQ(copy, original);
    copy.GetChild("descriptor0")->GetChild("nested")->SetValue("deep", true);
    EXPECT_NE(copy, original);
    copy = original;
    EXPECT_EQ(copy, original);
    copy.SetValue("version", std::int32_t{2}); // the same number as another type
    EXPECT_NE(copy, original);
    copy = original;
    copy.SetValue("levels", PropList::FloatList{0.5f, 0.0f, 1e-45f}); // +0 for -0
    EXPECT_NE(copy, original);

    PropList list;
    list.SetValue("a", 1);
    list.SetValue("c", 3);
    list.CreateChild("d")->SetValue("old", true);
    PropList other;
    other.SetValue("b", 2);
    other.SetValue("c", 30);
    other.SetValue("d", "text");
    PropList expected = other;
    expected.SetValue("a", 1);
    list.Merge(std::move(other));
    EXPECT_EQ(list, expected);
}

// Lists compare floats by their bits, so equality after the round trip means bit for bit.
TEST(PropListXml, EveryValueTypeTextAndKeyRoundTripsExactly)
{
    const std::uint32_t floatBits[] = {
        0x00000000u, 0x80000000u, 0x00000001u, 0x007fffffu, 0x00800000u, 0x7f7fffffu, 0xff7fffffu, 0x3dcccccdu,
        0x3eaaaaabu, 0x7f800000u, 0xff800000u, 0x7fc00000u, 0xffc00000u, 0xffffffffu, 0x4b000001u,
        0x7fa00001u}; // last: a signalling NaN with a payload
    const UTF8String texts[] = {
        "", " ", "\n", "\r", "\r\n", "\t", " \t both \r\n", "line1\nline2\rline3\r\nline4", "<&>\"']]>",
        "&amp; &#10; <![CDATA[x]]>", "\xF0\x9F\x8E\xB5 non-BMP", "\xEF\xBF\xBD", "\x01\x1F control",
        std::string("nul\0inside", 10), "\xFF\xFE ill-formed", "\xED\xA0\x80 surrogate",
        "\xEF\xBF\xBF not a character"};
    PropList list = MakeSample();
    PropList::FloatList floats;
    for (std::uint32_t bits : floatBits) {
        floats.push_back(std::bit_cast<float>(bits));
        list.SetValue("f" + std::to_string(bits), floats.back());
    }
    list.SetValue("floats", floats);
    int n = 0;
    for (const UTF8String& text : texts) {
        list.SetValue("text" + std::to_string(n++), text);
        list.SetValue(text, n); // the same texts as keys
    }
    list.CreateChild("\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xB5")->SetValue("\t", "x");
    EXPECT_EQ(RoundTrip(list), list);
}

TEST(PropListXml, OutputIsIndentedUtf8OneEntryPerLine)
{
    PropList list;
    list.SetValue("a", "x\ny");
    list.CreateChild("b")->SetValue("c", 1);
    UTF8String xml;
    ASSERT_TRUE(utils::WritePropList(list, xml));
    EXPECT_EQ(xml, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<proplist>\n"
                   "    <value key=\"a\" type=\"string\" data=\"x&#10;y\" />\n"
                   "    <list key=\"b\">\n"
                   "        <value key=\"c\" type=\"int32\" data=\"1\" />\n"
                   "    </list>\n"
                   "</proplist>\n");
}

TEST(PropListXml, MalformedTextIsRefusedAndTheListKept)
{
    auto value = [](const std::string& attributes) { return "<proplist><value " + attributes + "/></proplist>"; };
    auto typed = [&value](const std::string& type, const std::string& data) {
        return value("key=\"a\" type=\"" + type + "\" data=\"" + data + "\"");
    };
    std::string tooDeep = "<proplist>";
    for (int n = 0; n < 600; ++n) {
        tooDeep.insert(10, "<list key=\"a\">").append("</list>");
    }
    const std::string cases[] = {
        "", "<proplist>", "<other/>", "<proplist/><proplist/>", "<proplist version=\"9\"/>",
        "<proplist>text</proplist>", "<proplist><entry key=\"a\"/></proplist>",
        "<proplist><list key=\"a\"><value key=\"b\" type=\"bool\" data=\"maybe\"/></list></proplist>",
        "<proplist><list key=\"a\" type=\"int32\"/></proplist>",
        "<proplist><value key=\"a\" type=\"int32\" data=\"1\">2</value></proplist>",
        value("type=\"int32\" data=\"1\""), value("key=\"a\" data=\"1\""), value("key=\"a\" type=\"int32\""),
        value("key=\"a\" type=\"int32\" data=\"1\" extra=\"\""),
        value("key=\"a\" key64=\"YQ==\" type=\"int32\" data=\"1\""),
        value("key=\"a\" type=\"int32\" data=\"1\" data64=\"MQ==\""), value("key=\"a\" type=\"int32\" data64=\"MQ==\""),
        value("key64=\"not base64\" type=\"int32\" data=\"1\""), value("key=\"a\" type=\"string\" data64=\"YQ\""),
        typed("int64", "1"), typed("int32", ""), typed("int32", "12a"), typed("int32", "+1"),
        typed("int32", "2147483648"), typed("uint32", "-1"), typed("float", "1.0.0"), typed("float", "1e50"),
        typed("float", "nan:3f800000"), typed("float", "nan:"), typed("floats", "1 2 x"), typed("bool", "True"),
        tooDeep + "</proplist>",
    };
    const PropList sample = MakeSample();
    for (const std::string& text : cases) {
        PropList list = sample;
        EXPECT_FALSE(utils::ReadPropList(text, list)) << text.substr(0, 200);
        EXPECT_EQ(list, sample) << text.substr(0, 200);
    }
}

TEST(PropListXml, LenientFormsAreReadInKeyOrderAndDuplicateKeysKeepTheFirst)
{
    PropList list;
    ASSERT_TRUE(utils::ReadPropList("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- note -->\n<proplist>\n"
                                    "  <value type=\"floats\" key=\"f\" data=\"  1   2.5\n-inf \" />\n"
                                    "  <value key=\"e\" type=\"string\" data=\"a&#9;b\" />\n"
                                    "  <value key=\"f\" type=\"int32\" data=\"1\"/><list key=\"e\"/>\n"
                                    "</proplist>\n",
                                    list));
    PropList expected;
    expected.SetValue("f", PropList::FloatList{1.0f, 2.5f, -std::numeric_limits<float>::infinity()});
    expected.SetValue("e", "a\tb");
    EXPECT_EQ(list, expected);
}

TEST(BinaryText, BytesRoundTripThroughBase64AndOtherTextIsRefused)
{
    std::vector<std::uint8_t> every(256);
    std::iota(every.begin(), every.end(), std::uint8_t{0});
    for (const auto& bytes : std::vector<std::vector<std::uint8_t>>{{}, {0}, {0xff, 0xfe}, {1, 2, 3}, every}) {
        UTF8String text;
        ASSERT_TRUE(EncodeBinaryDataToUTF8String(bytes, text));
        EXPECT_EQ(text.size(), (bytes.size() + 2) / 3 * 4);
        std::vector<std::uint8_t> decoded{42};
        ASSERT_TRUE(DecodeBinaryDataFromUTF8String(text, decoded)) << text;
        EXPECT_EQ(decoded, bytes);
    }
    UTF8String text;
    // Known texts pin the alphabet and the padding, which a round trip alone cannot.
    for (const auto& [bytes, expected] : std::vector<std::pair<std::string, UTF8String>>{
             {"Man", "TWFu"}, {"Ma", "TWE="}, {"M", "TQ=="}, {"\xfb\xff\xbf", "+/+/"}}) {
        ASSERT_TRUE(EncodeBinaryDataToUTF8String(bytes.data(), bytes.size(), text));
        EXPECT_EQ(text, expected);
        std::vector<std::uint8_t> decoded;
        ASSERT_TRUE(DecodeBinaryDataFromUTF8String(expected, decoded));
        EXPECT_EQ(std::string(decoded.begin(), decoded.end()), bytes);
    }

    const UTF8String bad[] = {"A", "AB", "ABC", "AB=C", "====", "A===", "AB==CD==", "TWFu\n", " TWFu",
                              "TW Fu", "-_-_", "TWF\xC3\xA9", "AR==", "AQZ=", std::string("TW\0u", 4)};
    for (const UTF8String& notBase64 : bad) {
        std::vector<std::uint8_t> data{7};
        EXPECT_FALSE(DecodeBinaryDataFromUTF8String(notBase64, data)) << notBase64;
        EXPECT_EQ(data, std::vector<std::uint8_t>{7});
    }
}

TEST(PropListFile, SavedListsLoadBackOrMergeAndBrokenFilesAreRefused)
{
    TempTree dir;
    filesupport::File file(dir.Root() / "settings.xml");
    const PropList sample = MakeSample();
    ASSERT_TRUE(utils::SavePropList(file, sample));
    PropList loaded;
    loaded.SetValue("stale", 1);
    ASSERT_TRUE(utils::LoadPropList(file.FullPath(), loaded, false));
    EXPECT_EQ(loaded, sample);

    PropList merged;
    merged.SetValue("stale", 1);
    merged.SetValue("version", 9);
    ASSERT_TRUE(utils::LoadPropList(file.FullPath(), merged, true));
    EXPECT_TRUE(merged.RemoveValue("stale"));
    EXPECT_EQ(merged, sample); // "version" from the file
    EXPECT_EQ(dir.EntryCount(), 1);

    // Missing, empty, truncated or foreign files are refused and the list is kept.
    const std::string text = ReadWholeFile(file.GetPath());
    std::vector<std::string> contents = {"\n", "<?xml version=\"1.0\"?>", "<plist/>", std::string("\xFF\xFE\x00<", 4)};
    // Every cut before the closing bracket leaves an unfinished document.
    for (std::size_t length = 0; length < text.rfind('>'); length += 3) {
        contents.push_back(text.substr(0, length));
    }
    const fs::path bad = dir.Root() / "bad.xml";
    EXPECT_FALSE(utils::LoadPropList(filesupport::FromPath(dir.Root() / "missing.xml"), loaded, false));
    EXPECT_FALSE(utils::LoadPropList(filesupport::FromPath(dir.Root()), loaded, true));
    for (const std::string& content : contents) {
        std::ofstream(bad, std::ios::binary) << content;
        EXPECT_FALSE(utils::LoadPropList(filesupport::FromPath(bad), loaded, false)) << content.size();
        EXPECT_FALSE(utils::LoadPropList(filesupport::FromPath(bad), loaded, true)) << content.size();
    }
    EXPECT_EQ(loaded, sample);
}

TEST(PropListFile, FailedOrInterruptedSaveLeavesTheOldFileWhole)
{
    TempTree dir;
    const fs::path taken = dir.Root() / "taken";
    fs::create_directories(taken / "inside");
    filesupport::File directory(taken);
    EXPECT_FALSE(utils::SavePropList(directory, MakeSample())); // the rename fails
    EXPECT_TRUE(fs::is_directory(taken / "inside"));
    filesupport::File noDirectory(dir.Root() / "absent" / "settings.xml");
    EXPECT_FALSE(utils::SavePropList(noDirectory, MakeSample()));
    EXPECT_EQ(dir.EntryCount(), 1);

    filesupport::File file(dir.Root() / "settings.xml");
    ASSERT_TRUE(utils::SavePropList(file, PropList()));
    const std::string oldText = ReadWholeFile(file.GetPath());
    PropList large;
    for (int n = 0; n < 2000; ++n) {
        large.CreateChild("descriptor" + std::to_string(n))->SetValue("name", "a long enough name to pass the limit");
    }

    // The child saves a large list under a file-size limit: it is either killed by SIGXFSZ in the
    // middle of writing (a crash mid-save) or, with the signal ignored, sees the write fail.
    for (const bool ignoreSignal : {false, true}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(SIGXFSZ, ignoreSignal ? SIG_IGN : SIG_DFL);
            const rlimit noCore{0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            const rlimit limit{static_cast<rlim_t>(oldText.size() + 100), static_cast<rlim_t>(oldText.size() + 100)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::_exit(utils::SavePropList(file, large) ? 0 : 3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(ignoreSignal ? WIFEXITED(status) && WEXITSTATUS(status) == 3
                                 : WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ)
            << status;
        EXPECT_EQ(ReadWholeFile(file.GetPath()), oldText);
    }
    // The killed child's temporary file went with the next save.
    EXPECT_EQ(dir.EntryCount(), 2);
}
