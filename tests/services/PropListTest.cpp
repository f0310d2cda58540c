// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/PropList.h"

#include "kelaudiofilterhost/services/File.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelcore;
using namespace kelcore::proplist;
namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "kafh-proplist-XXXXXX").string();
        mPath = ::mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code error;
        fs::remove_all(mPath, error);
    }
    const fs::path& Path() const { return mPath; }

private:
    fs::path mPath;
};

std::string ReadWholeFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteWholeFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

float FloatFromBits(std::uint32_t bits)
{
    return std::bit_cast<float>(bits);
}

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
    PropList* child = list.CreateChild("descriptor0");
    child->SetValue("path", UTF16String(u"/usr/lib/vst3/\u00DCber.vst3"));
    child->CreateChild("nested")->SetValue("deep", false);
    list.CreateChild("empty");
    return list;
}

// Lists nested deeper than any real record.
std::string Nested(int depth)
{
    std::string text = "<proplist>";
    for (int n = 0; n < depth; ++n) {
        text += "<list key=\"a\">";
    }
    for (int n = 0; n < depth; ++n) {
        text += "</list>";
    }
    return text + "</proplist>";
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

TEST(PropList, GetValueFailsForAbsentKeyOrOtherTypeAndLeavesTheOutValue)
{
    PropList list = MakeSample();
    std::int32_t i = 99;
    std::uint32_t u = 99;
    float f = 9.5f;
    bool b = true;
    UTF8String s8 = "keep";
    UTF16String s16 = u"keep";
    PropList::FloatList floats{3.0f};
    EXPECT_FALSE(list.GetValue("missing", i));
    EXPECT_FALSE(list.GetValue("gain", i));
    EXPECT_FALSE(list.GetValue("count", u)); // negative does not fit
    EXPECT_FALSE(list.GetValue("count", f));
    EXPECT_FALSE(list.GetValue("name", b));
    EXPECT_FALSE(list.GetValue("gain", s8));
    EXPECT_FALSE(list.GetValue("descriptor0", s16));
    EXPECT_FALSE(list.GetValue("name", floats));
    EXPECT_EQ(i, 99);
    EXPECT_EQ(u, 99u);
    EXPECT_EQ(f, 9.5f);
    EXPECT_TRUE(b);
    EXPECT_EQ(s8, "keep");
    EXPECT_EQ(s16, u"keep");
    EXPECT_EQ(floats, PropList::FloatList{3.0f});
    EXPECT_EQ(list.GetChild("name"), nullptr);
    EXPECT_FALSE(list.HasValue("descriptor0"));
}

TEST(PropList, SignedAndUnsignedConvertOnlyWhenTheValueFits)
{
    PropList list;
    list.SetValue("small", std::uint32_t{5});
    list.SetValue("large", std::uint32_t{0x80000000u});
    list.SetValue("negative", std::int32_t{-1});
    list.SetValue("positive", std::int32_t{0x7fffffff});
    std::int32_t i = 0;
    std::uint32_t u = 0;
    EXPECT_TRUE(list.GetValue("small", i));
    EXPECT_EQ(i, 5);
    EXPECT_FALSE(list.GetValue("large", i));
    EXPECT_FALSE(list.GetValue("negative", u));
    EXPECT_TRUE(list.GetValue("positive", u));
    EXPECT_EQ(u, 0x7fffffffu);
}

TEST(PropList, Utf8AndUtf16TextAreOneValue)
{
    PropList list;
    list.SetValue("a", UTF16String(u"\u00E9\U0001F3B5"));
    UTF8String s8;
    ASSERT_TRUE(list.GetValue("a", s8));
    EXPECT_EQ(s8, "\xC3\xA9\xF0\x9F\x8E\xB5");
    list.SetValue("b", "plain");
    UTF16String s16;
    ASSERT_TRUE(list.GetValue("b", s16));
    EXPECT_EQ(s16, u"plain");
}

TEST(PropList, AKeyHoldsOneValueOrOneChild)
{
    PropList list;
    list.CreateChild("k")->SetValue("inner", 1);
    list.SetValue("k", 2.0f);
    EXPECT_EQ(list.GetChild("k"), nullptr);
    EXPECT_TRUE(list.HasValue("k"));
    PropList* child = list.CreateChild("k");
    ASSERT_NE(child, nullptr);
    EXPECT_TRUE(child->IsEmpty());
    EXPECT_EQ(list.CreateChild("k"), child); // an existing child is kept
    EXPECT_EQ(list.GetSize(), 1u);
    EXPECT_TRUE(list.RemoveValue("k"));
    EXPECT_FALSE(list.RemoveValue("k"));
    EXPECT_TRUE(list.IsEmpty());
}

TEST(PropList, KeysAreKeptInByteOrder)
{
    PropList list;
    for (const char* key : {"b", "\xC3\xA9", "B", "a10", "a9", "", "a"}) {
        list.SetValue(key, true);
    }
    EXPECT_EQ(list.GetKeys(), (std::vector<UTF8String>{"", "B", "a", "a10", "a9", "b", "\xC3\xA9"}));
}

TEST(PropList, CopiesAreDeepAndCompareEqual)
{
    PropList original = MakeSample();
    PropList copy = original;
    EXPECT_EQ(copy, original);
    copy.GetChild("descriptor0")->GetChild("nested")->SetValue("deep", true);
    EXPECT_NE(copy, original);
    bool deep = true;
    ASSERT_TRUE(original.GetChild("descriptor0")->GetChild("nested")->GetValue("deep", deep));
    EXPECT_FALSE(deep);
    copy = original;
    EXPECT_EQ(copy, original);
    PropList typed;
    typed.SetValue("v", std::int32_t{1});
    PropList otherType;
    otherType.SetValue("v", std::uint32_t{1});
    EXPECT_NE(typed, otherType);
}

TEST(PropList, MergeAddsEntriesAndTheOtherListWins)
{
    PropList list;
    list.SetValue("a", 1);
    list.SetValue("c", 3);
    list.CreateChild("d")->SetValue("old", true);
    PropList other;
    other.SetValue("b", 2);
    other.SetValue("c", 30);
    other.SetValue("d", "text");
    list.Merge(std::move(other));
    EXPECT_EQ(list.GetKeys(), (std::vector<UTF8String>{"a", "b", "c", "d"}));
    std::int32_t c = 0;
    UTF8String d;
    EXPECT_TRUE(list.GetValue("c", c));
    EXPECT_EQ(c, 30);
    EXPECT_TRUE(list.GetValue("d", d));
    EXPECT_EQ(d, "text");
}

TEST(PropListXml, EveryValueTypeRoundTrips)
{
    const PropList list = MakeSample();
    EXPECT_EQ(RoundTrip(list), list);
}

TEST(PropListXml, FloatsRoundTripBitForBit)
{
    const std::uint32_t patterns[] = {
        0x00000000u, 0x80000000u, 0x00000001u, 0x007fffffu, 0x00800000u, 0x7f7fffffu, 0xff7fffffu,
        0x3dcccccdu, 0x3eaaaaabu, 0x7f800000u, 0xff800000u, 0x7fc00000u, 0xffc00000u,
        0x7fa00001u, // signalling NaN with a payload
        0xffffffffu, 0x4b000001u};
    PropList list;
    PropList::FloatList all;
    for (std::uint32_t bits : patterns) {
        list.SetValue("f" + std::to_string(bits), FloatFromBits(bits));
        all.push_back(FloatFromBits(bits));
    }
    list.SetValue("all", all);
    list.SetValue("none", PropList::FloatList{});
    const PropList read = RoundTrip(list);
    for (std::uint32_t bits : patterns) {
        float value = 0.0f;
        ASSERT_TRUE(read.GetValue("f" + std::to_string(bits), value));
        EXPECT_EQ(std::bit_cast<std::uint32_t>(value), bits);
    }
    PropList::FloatList readAll;
    ASSERT_TRUE(read.GetValue("all", readAll));
    ASSERT_EQ(readAll.size(), all.size());
    for (std::size_t n = 0; n < all.size(); ++n) {
        EXPECT_EQ(std::bit_cast<std::uint32_t>(readAll[n]), std::bit_cast<std::uint32_t>(all[n])) << n;
    }
    std::list<float> none{1.0f};
    ASSERT_TRUE(read.GetValue("none", none));
    EXPECT_TRUE(none.empty());
}

TEST(PropListXml, TextAndKeysRoundTripExactly)
{
    const UTF8String texts[] = {
        "", " ", "   ", "\n", "\r", "\r\n", "\t", " lead", "trail ", " \t both \r\n",
        "line1\nline2\rline3\r\nline4", "<&>\"']]>", "&amp; &#10; <![CDATA[x]]>",
        "\xF0\x9F\x8E\xB5 non-BMP", "\xEF\xBF\xBD", "\x01\x1F control", std::string("nul\0inside", 10),
        "\xFF\xFE ill-formed", "\xED\xA0\x80 surrogate", "\xEF\xBF\xBF not a character"};
    PropList list;
    int n = 0;
    for (const UTF8String& text : texts) {
        list.SetValue("text" + std::to_string(n++), text);
        list.SetValue(text, n); // the same texts as keys
    }
    list.CreateChild("\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\xB5")->SetValue("\t", "x");
    const PropList read = RoundTrip(list);
    EXPECT_EQ(read, list);
    n = 0;
    for (const UTF8String& text : texts) {
        UTF8String value;
        ASSERT_TRUE(read.GetValue("text" + std::to_string(n++), value));
        EXPECT_EQ(value, text);
    }
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

TEST(PropListXml, DuplicateKeysKeepTheFirstAndOrderIsRestored)
{
    PropList list;
    ASSERT_TRUE(utils::ReadPropList("<proplist>"
                                    "<value key=\"b\" type=\"int32\" data=\"1\"/>"
                                    "<value key=\"a\" type=\"int32\" data=\"2\"/>"
                                    "<value key=\"b\" type=\"string\" data=\"later\"/>"
                                    "<list key=\"a\"/>"
                                    "</proplist>",
                                    list));
    EXPECT_EQ(list.GetKeys(), (std::vector<UTF8String>{"a", "b"}));
    std::int32_t a = 0;
    std::int32_t b = 0;
    EXPECT_TRUE(list.GetValue("a", a));
    EXPECT_TRUE(list.GetValue("b", b));
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 1);
}

TEST(PropListXml, MalformedTextIsRefusedAndTheListKept)
{
    auto value = [](const std::string& attributes) { return "<proplist><value " + attributes + "/></proplist>"; };
    const std::string cases[] = {
        "",
        "not xml",
        "<proplist>",
        "<proplist><value key=\"a\" type=\"int32\" data=\"1\"/>",
        "<other/>",
        "<proplist/><proplist/>",
        "<proplist version=\"9\"/>",
        "<proplist>text</proplist>",
        "<proplist><entry key=\"a\"/></proplist>",
        "<proplist><list key=\"a\"><value key=\"b\" type=\"bool\" data=\"maybe\"/></list></proplist>",
        "<proplist><list key=\"a\" type=\"int32\"/></proplist>",
        "<proplist><value key=\"a\" type=\"int32\" data=\"1\">2</value></proplist>",
        value("type=\"int32\" data=\"1\""),
        value("key=\"a\" data=\"1\""),
        value("key=\"a\" type=\"int32\""),
        value("key=\"a\" type=\"int64\" data=\"1\""),
        value("key=\"a\" type=\"int32\" data=\"1\" extra=\"\""),
        value("key=\"a\" key64=\"YQ==\" type=\"int32\" data=\"1\""),
        value("key=\"a\" type=\"int32\" data=\"1\" data64=\"MQ==\""),
        value("key=\"a\" type=\"int32\" data64=\"MQ==\""),
        value("key64=\"not base64\" type=\"int32\" data=\"1\""),
        value("key=\"a\" type=\"string\" data64=\"YQ\""),
        value("key=\"a\" type=\"int32\" data=\"\""),
        value("key=\"a\" type=\"int32\" data=\"12a\""),
        value("key=\"a\" type=\"int32\" data=\" 1\""),
        value("key=\"a\" type=\"int32\" data=\"+1\""),
        value("key=\"a\" type=\"int32\" data=\"2147483648\""),
        value("key=\"a\" type=\"uint32\" data=\"-1\""),
        value("key=\"a\" type=\"uint32\" data=\"4294967296\""),
        value("key=\"a\" type=\"float\" data=\"1.0.0\""),
        value("key=\"a\" type=\"float\" data=\"1e50\""),
        value("key=\"a\" type=\"float\" data=\"0x1p3\""),
        value("key=\"a\" type=\"float\" data=\"nan:3f800000\""),
        value("key=\"a\" type=\"float\" data=\"nan:\""),
        value("key=\"a\" type=\"floats\" data=\"1 2 x\""),
        value("key=\"a\" type=\"bool\" data=\"1\""),
        value("key=\"a\" type=\"bool\" data=\"True\""),
        Nested(600),
    };
    const PropList sample = MakeSample();
    for (const std::string& text : cases) {
        PropList list = sample;
        EXPECT_FALSE(utils::ReadPropList(text, list)) << text.substr(0, 200);
        EXPECT_EQ(list, sample) << text.substr(0, 200);
    }
}

TEST(PropListXml, LenientButValidFormsAreRead)
{
    PropList list;
    ASSERT_TRUE(utils::ReadPropList("\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- note -->\n<proplist>\n"
                                    "  <value type=\"floats\" key=\"f\" data=\"  1   2.5\n-inf \" />\n"
                                    "  <value key=\"e\" type=\"string\" data=\"a&#9;b\" />\n"
                                    "</proplist>\n",
                                    list));
    PropList::FloatList f;
    ASSERT_TRUE(list.GetValue("f", f));
    EXPECT_EQ(f, (PropList::FloatList{1.0f, 2.5f, -std::numeric_limits<float>::infinity()}));
    UTF8String e;
    ASSERT_TRUE(list.GetValue("e", e));
    EXPECT_EQ(e, "a\tb");
}

TEST(BinaryText, BytesRoundTripThroughBase64)
{
    std::vector<std::uint8_t> every(256);
    for (std::size_t n = 0; n < every.size(); ++n) {
        every[n] = static_cast<std::uint8_t>(n);
    }
    const std::vector<std::vector<std::uint8_t>> cases = {{}, {0}, {0xff, 0xfe}, {1, 2, 3}, {'M', 'a', 'n', '!'}, every};
    for (const auto& bytes : cases) {
        UTF8String text;
        ASSERT_TRUE(EncodeBinaryDataToUTF8String(bytes, text));
        EXPECT_EQ(text.size(), (bytes.size() + 2) / 3 * 4);
        std::vector<std::uint8_t> decoded{42};
        ASSERT_TRUE(DecodeBinaryDataFromUTF8String(text, decoded)) << text;
        EXPECT_EQ(decoded, bytes);
    }
    UTF8String text;
    ASSERT_TRUE(EncodeBinaryDataToUTF8String("Man", 3, text));
    EXPECT_EQ(text, "TWFu");
}

TEST(BinaryText, TextThatIsNotBase64IsRefused)
{
    const UTF8String cases[] = {"A", "AB", "ABC", "AB=C", "====", "A===", "AB==CD==", "TWFu\n", " TWFu",
                                "TW Fu", "-_-_", "TWF\xC3\xA9", "AR==", "AQZ=", std::string("TW\0u", 4)};
    for (const UTF8String& text : cases) {
        std::vector<std::uint8_t> data{7};
        EXPECT_FALSE(DecodeBinaryDataFromUTF8String(text, data)) << text;
        EXPECT_EQ(data, std::vector<std::uint8_t>{7});
    }
}

TEST(PropListFile, SaveAndLoadRoundTripAndMerge)
{
    TempDir dir;
    filesupport::File file(dir.Path() / "settings.xml");
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
    PropList expected = sample;
    expected.SetValue("stale", 1);
    EXPECT_EQ(merged, expected);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

TEST(PropListFile, MissingEmptyTruncatedOrForeignFilesAreRefused)
{
    TempDir dir;
    const fs::path good = dir.Path() / "good.xml";
    filesupport::File goodFile(good);
    ASSERT_TRUE(utils::SavePropList(goodFile, MakeSample()));
    const std::string text = ReadWholeFile(good);
    const std::size_t lastBracket = text.rfind('>');
    ASSERT_NE(lastBracket, std::string::npos);

    std::vector<std::string> contents = {"", "\n", "<?xml version=\"1.0\"?>", "<plist/>",
                                         std::string("\xFF\xFE\x00<", 4)};
    // Every cut before the closing bracket leaves an unfinished document.
    for (std::size_t length = 0; length < lastBracket; length += 3) {
        contents.push_back(text.substr(0, length));
    }
    const fs::path bad = dir.Path() / "bad.xml";
    const PropList before = MakeSample();
    PropList list = before;
    EXPECT_FALSE(utils::LoadPropList(filesupport::FromPath(dir.Path() / "missing.xml"), list, false));
    EXPECT_FALSE(utils::LoadPropList(filesupport::FromPath(dir.Path()), list, true));
    for (const std::string& content : contents) {
        WriteWholeFile(bad, content);
        EXPECT_FALSE(utils::LoadPropList(filesupport::FromPath(bad), list, false)) << content.size();
        EXPECT_FALSE(utils::LoadPropList(filesupport::FromPath(bad), list, true)) << content.size();
    }
    EXPECT_EQ(list, before);
}

TEST(PropListFile, FailedRenameLeavesNoTemporaryFile)
{
    TempDir dir;
    const fs::path target = dir.Path() / "taken";
    fs::create_directories(target / "inside");
    filesupport::File file(target);
    EXPECT_FALSE(utils::SavePropList(file, MakeSample()));
    EXPECT_TRUE(fs::is_directory(target / "inside"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);

    filesupport::File noDirectory(dir.Path() / "absent" / "settings.xml");
    EXPECT_FALSE(utils::SavePropList(noDirectory, MakeSample()));
}

// The child saves a large list under a file-size limit: it is either killed by SIGXFSZ in the
// middle of writing (a crash mid-save) or, with the signal ignored, sees the write fail.
TEST(PropListFile, InterruptedSaveLeavesTheOldFileWhole)
{
    TempDir dir;
    filesupport::File file(dir.Path() / "settings.xml");
    PropList old;
    old.SetValue("generation", 1);
    ASSERT_TRUE(utils::SavePropList(file, old));
    const std::string oldText = ReadWholeFile(file.GetPath());
    PropList large;
    for (int n = 0; n < 2000; ++n) {
        large.CreateChild("descriptor" + std::to_string(n))->SetValue("name", "a long enough name to pass the limit");
    }

    for (const bool ignoreSignal : {false, true}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::signal(SIGXFSZ, ignoreSignal ? SIG_IGN : SIG_DFL);
            const rlimit noCore{0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            const rlimit limit{static_cast<rlim_t>(oldText.size() + 100), static_cast<rlim_t>(oldText.size() + 100)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const bool saved = utils::SavePropList(file, large);
            ::_exit(saved ? 0 : 3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (ignoreSignal) {
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status), 3);
        } else {
            ASSERT_TRUE(WIFSIGNALED(status));
            EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
        }
        EXPECT_EQ(ReadWholeFile(file.GetPath()), oldText);
        PropList loaded;
        ASSERT_TRUE(utils::LoadPropList(file.FullPath(), loaded, false));
        EXPECT_EQ(loaded, old);
    }
    // Only the killed child's temporary file may remain beside the settings.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}
