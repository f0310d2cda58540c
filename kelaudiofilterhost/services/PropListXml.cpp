// SPDX-License-Identifier: GPL-3.0-or-later
// The XML form of a property list:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <proplist>
//       <value key="version" type="uint32" data="2" />
//       <list key="descriptor0">
//           <value key="name" type="string" data="Gain" />
//           <value key="levels" type="floats" data="0.5 1 -0" />
//       </list>
//   </proplist>
//
// Types: bool ("true"/"false"), int32, uint32, float, floats (space-separated), string. Floats are
// written in their shortest exact form; NaNs other than the two usual ones as "nan:" and their bits
// in hex. Values live in attributes because tabs, newlines and carriage returns are escaped
// there, so every string (also whitespace-only) comes back exactly. A key or string that XML cannot
// carry (control characters, ill-formed UTF-8) is written base64-encoded as key64 or data64 instead.
#include "kelaudiofilterhost/services/PropList.h"

#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/services/XmlParser.h"

#include <boost/locale/utf.hpp>
#include <pugixml.hpp>

#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <functional>
#include <memory>
#include <type_traits>
#include <variant>

namespace kelcore::proplist::utils {

namespace {

constexpr const char* kRootName = "proplist";
constexpr const char* kValueName = "value";
constexpr const char* kListName = "list";
constexpr unsigned kParseFlags = pugi::parse_escapes | pugi::parse_wconv_attribute | pugi::parse_eol;

constexpr std::uint32_t kQuietNaN = 0x7fc00000u;
constexpr std::uint32_t kNegativeQuietNaN = 0xffc00000u;

// True when the text is well-formed UTF-8 made only of characters XML 1.0 allows.
bool IsXmlText(std::string_view text)
{
    namespace utf = boost::locale::utf;
    const char* it = text.data();
    const char* end = it + text.size();
    while (it != end) {
        const auto byte = static_cast<unsigned char>(*it);
        if (byte < 0x80) {
            if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') {
                return false;
            }
            ++it;
            continue;
        }
        const utf::code_point cp = utf::utf_traits<char>::decode(it, end);
        if (cp == utf::illegal || cp == utf::incomplete || cp == 0xFFFE || cp == 0xFFFF) {
            return false;
        }
    }
    return true;
}

void AppendFloat(UTF8String& out, float value)
{
    const auto bits = std::bit_cast<std::uint32_t>(value);
    char buffer[32];
    char* end = buffer;
    if (value != value && bits != kQuietNaN && bits != kNegativeQuietNaN) {
        std::memcpy(buffer, "nan:", 4);
        auto result = std::to_chars(buffer + 4, buffer + sizeof buffer, bits, 16);
        end = result.ptr;
    } else {
        end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    }
    out.append(buffer, end);
}

bool ParseFloat(std::string_view text, float& value)
{
    if (text.starts_with("nan:")) {
        std::uint32_t bits = 0;
        const char* first = text.data() + 4;
        const char* last = text.data() + text.size();
        auto result = std::from_chars(first, last, bits, 16);
        if (result.ec != std::errc() || result.ptr != last || first == last) {
            return false;
        }
        const float parsed = std::bit_cast<float>(bits);
        if (parsed == parsed) {
            return false;
        }
        value = parsed;
        return true;
    }
    const char* last = text.data() + text.size();
    auto result = std::from_chars(text.data(), last, value);
    return result.ec == std::errc() && result.ptr == last && !text.empty();
}

template <typename Integer> bool ParseInteger(std::string_view text, Integer& value)
{
    const char* last = text.data() + text.size();
    auto result = std::from_chars(text.data(), last, value);
    return result.ec == std::errc() && result.ptr == last && !text.empty();
}

bool IsXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool ParseFloatList(std::string_view text, PropList::FloatList& values)
{
    std::size_t pos = 0;
    while (true) {
        while (pos < text.size() && IsXmlSpace(text[pos])) {
            ++pos;
        }
        if (pos == text.size()) {
            return true;
        }
        std::size_t end = pos;
        while (end < text.size() && !IsXmlSpace(text[end])) {
            ++end;
        }
        float value = 0.0f;
        if (!ParseFloat(text.substr(pos, end - pos), value)) {
            return false;
        }
        values.push_back(value);
        pos = end;
    }
}

// Writes the document straight from the list, in the form pugixml gives it with four-space indents:
// building a pugixml document first cost more than the rest of the save together. Appends in chunks.
class XmlOut {
public:
    explicit XmlOut(const std::function<bool(std::string_view)>& flush) : mFlush(flush) { mBuffer.reserve(kChunk + 4096); }

    bool Finish()
    {
        Flush();
        return mOk;
    }

    void Raw(std::string_view text)
    {
        mBuffer.append(text);
        if (mBuffer.size() >= kChunk) {
            Flush();
        }
    }

    void Indent(int depth) { mBuffer.append(static_cast<std::size_t>(depth) * 4, ' '); }

    // An attribute value, escaped as pugixml escapes it: tabs, line feeds and carriage returns become
    // character references, which the reader turns back into themselves (other control characters are
    // written base64-encoded and never get here).
    void Escaped(std::string_view text)
    {
        std::size_t begin = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if (!kSpecial[c]) {
                continue;
            }
            mBuffer.append(text.substr(begin, i - begin));
            begin = i + 1;
            switch (c) {
            case '&':
                mBuffer.append("&amp;");
                break;
            case '<':
                mBuffer.append("&lt;");
                break;
            case '>':
                mBuffer.append("&gt;");
                break;
            case '"':
                mBuffer.append("&quot;");
                break;
            default: {
                const char numeric[] = {'&', '#', static_cast<char>('0' + c / 10), static_cast<char>('0' + c % 10), ';'};
                mBuffer.append(numeric, sizeof numeric);
                break;
            }
            }
        }
        mBuffer.append(text.substr(begin));
    }

    void Attribute(std::string_view name, std::string_view value)
    {
        mBuffer.push_back(' ');
        mBuffer.append(name);
        mBuffer.append("=\"");
        Escaped(value);
        mBuffer.push_back('"');
    }

    // Under the plain name, or base64-encoded under the "64" name when XML cannot carry the text exactly.
    void TextAttribute(std::string_view plainName, std::string_view encodedName, const UTF8String& text)
    {
        if (IsXmlText(text)) {
            Attribute(plainName, text);
            return;
        }
        UTF8String encoded;
        EncodeBinaryDataToUTF8String(text.data(), text.size(), encoded);
        Attribute(encodedName, encoded);
    }

private:
    static constexpr std::size_t kChunk = 1 << 16;
    // The bytes an attribute value cannot hold as they are.
    static constexpr auto kSpecial = [] {
        std::array<bool, 256> special{};
        for (int c = 0; c < 32; ++c) {
            special[c] = true;
        }
        for (const unsigned char c : {'&', '<', '>', '"'}) {
            special[c] = true;
        }
        return special;
    }();

    void Flush()
    {
        if (!mBuffer.empty()) {
            mOk = mOk && mFlush(mBuffer);
            mBuffer.clear();
        }
    }

    const std::function<bool(std::string_view)>& mFlush;
    std::string mBuffer;
    bool mOk = true;
};

const char* TypeName(const PropList::Value& value)
{
    static_assert(std::is_same_v<std::variant_alternative_t<4, PropList::Value>, UTF8String> &&
                  std::is_same_v<std::variant_alternative_t<5, PropList::Value>, PropList::FloatList>);
    static constexpr const char* names[] = {"bool", "int32", "uint32", "float", "string", "floats"};
    return names[value.index()];
}

template <typename Integer> void AppendInteger(UTF8String& out, Integer value)
{
    char buffer[16];
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

void WriteEntries(XmlOut& out, const PropList& list, int depth)
{
    UTF8String data;
    for (const PropList::Entry& entry : list.GetEntries()) {
        out.Indent(depth);
        if (const auto* child = std::get_if<std::unique_ptr<PropList>>(&entry.value)) {
            out.Raw("<list");
            out.TextAttribute("key", "key64", entry.key);
            if ((*child)->GetEntries().empty()) {
                out.Raw(" />\n");
                continue;
            }
            out.Raw(">\n");
            WriteEntries(out, **child, depth + 1);
            out.Indent(depth);
            out.Raw("</list>\n");
            continue;
        }
        out.Raw("<value");
        out.TextAttribute("key", "key64", entry.key);
        out.Attribute("type", TypeName(entry.value));
        if (const auto* text = std::get_if<UTF8String>(&entry.value)) {
            out.TextAttribute("data", "data64", *text);
            out.Raw(" />\n");
            continue;
        }
        data.clear();
        if (const auto* b = std::get_if<bool>(&entry.value)) {
            data = *b ? "true" : "false";
        } else if (const auto* i = std::get_if<std::int32_t>(&entry.value)) {
            AppendInteger(data, *i);
        } else if (const auto* u = std::get_if<std::uint32_t>(&entry.value)) {
            AppendInteger(data, *u);
        } else if (const auto* f = std::get_if<float>(&entry.value)) {
            AppendFloat(data, *f);
        } else if (const auto* floats = std::get_if<PropList::FloatList>(&entry.value)) {
            for (std::size_t n = 0; n < floats->size(); ++n) {
                if (n != 0) {
                    data.push_back(' ');
                }
                AppendFloat(data, (*floats)[n]);
            }
        }
        out.Attribute("data", data);
        out.Raw(" />\n");
    }
}

bool DecodeText(const char* encoded, UTF8String& text)
{
    std::vector<std::uint8_t> bytes;
    if (!DecodeBinaryDataFromUTF8String(encoded, bytes)) {
        return false;
    }
    text.assign(bytes.begin(), bytes.end());
    return true;
}

// Names are compared by hand: the reader spends most of its own time telling a few short
// attribute and type names apart, and a call to strcmp per candidate costs more than the test.
inline bool NameIs(const char* name, const char* expected)
{
    while (*expected) {
        if (*name++ != *expected++) {
            return false;
        }
    }
    return *name == '\0';
}

bool ParseValue(const char* type, const char* data, PropList::Value& value)
{
    const std::string_view text(data);
    switch (type[0]) {
    case 's':
        if (NameIs(type, "string")) {
            value.emplace<UTF8String>(text);
            return true;
        }
        return false;
    case 'i':
        return NameIs(type, "int32") && ParseInteger(text, value.emplace<std::int32_t>());
    case 'u':
        return NameIs(type, "uint32") && ParseInteger(text, value.emplace<std::uint32_t>());
    case 'f':
        if (NameIs(type, "float")) {
            return ParseFloat(text, value.emplace<float>());
        }
        return NameIs(type, "floats") && ParseFloatList(text, value.emplace<PropList::FloatList>());
    case 'b':
        if (!NameIs(type, "bool") || (text != "true" && text != "false")) {
            return false;
        }
        value = text == "true";
        return true;
    default:
        return false;
    }
}

// The attributes of one element; each may appear once.
struct EntryAttributes {
    const char* key = nullptr;
    const char* key64 = nullptr;
    const char* type = nullptr;
    const char* data = nullptr;
    const char* data64 = nullptr;
};

bool CollectAttributes(pugi::xml_node node, EntryAttributes& found)
{
    for (pugi::xml_attribute attribute = node.first_attribute(); attribute; attribute = attribute.next_attribute()) {
        const char* name = attribute.name();
        const char** slot = NameIs(name, "key")      ? &found.key
                            : NameIs(name, "type")   ? &found.type
                            : NameIs(name, "data")   ? &found.data
                            : NameIs(name, "key64")  ? &found.key64
                            : NameIs(name, "data64") ? &found.data64
                                                     : nullptr;
        if (!slot || *slot) {
            return false;
        }
        *slot = attribute.value();
    }
    return (found.key != nullptr) != (found.key64 != nullptr);
}

// A value element: a type and exactly one of data and data64 (text only), and no content.
bool ReadValue(pugi::xml_node node, const EntryAttributes& found, PropList::Value& value)
{
    if (!found.type || (found.data != nullptr) == (found.data64 != nullptr) || node.first_child()) {
        return false;
    }
    if (found.data64) {
        return NameIs(found.type, "string") && DecodeText(found.data64, value.emplace<UTF8String>());
    }
    return ParseValue(found.type, found.data, value);
}

// expectedSize 0 counts the entries first; records of one kind usually have the same size, so a
// list's previous child tells the next one how much room to make.
bool ReadEntries(pugi::xml_node parent, PropList& list, int depth, std::size_t expectedSize)
{
    if (depth > xml::kMaxElementDepth) {
        return false;
    }
    if (expectedSize == 0) {
        for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
            ++expectedSize;
        }
    }
    list.Reserve(expectedSize);
    std::size_t childSize = 0;
    bool sorted = true;
    UTF8String decodedKey;
    for (pugi::xml_node node = parent.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element) {
            return false;
        }
        const char* name = node.name();
        const bool isList = NameIs(name, kListName);
        EntryAttributes found;
        if ((!isList && !NameIs(name, kValueName)) || !CollectAttributes(node, found)) {
            return false;
        }
        std::string_view key;
        if (found.key) {
            key = found.key;
        } else if (DecodeText(found.key64, decodedKey)) {
            key = decodedKey;
        } else {
            return false;
        }
        const auto& entries = list.GetEntries();
        if (sorted && !entries.empty() && !(std::string_view(entries.back().key) < key)) {
            sorted = false;
        }
        // Filled in place; on failure the half-read list is thrown away by the caller.
        PropList::Value& value = list.AppendSlotUnchecked(key);
        if (isList) {
            if (found.type || found.data || found.data64) {
                return false;
            }
            auto child = std::make_unique<PropList>();
            PropList& childList = *child;
            value = std::move(child);
            if (!ReadEntries(node, childList, depth + 1, childSize)) {
                return false;
            }
            childSize = childList.GetSize();
        } else if (!ReadValue(node, found, value)) {
            return false;
        }
    }
    if (!sorted) {
        list.Normalize();
    }
    return true;
}

bool ReadDocument(const pugi::xml_document& document, PropList& list)
{
    pugi::xml_node root;
    for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element) {
            if (root) {
                return false;
            }
            root = node;
        }
    }
    if (!root || !NameIs(root.name(), kRootName) || root.first_attribute()) {
        return false;
    }
    return ReadEntries(root, list, 0, 0);
}

} // namespace

namespace {

bool WriteDocument(const PropList& list, const std::function<bool(std::string_view)>& append)
{
    XmlOut out(append);
    out.Raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    if (list.GetEntries().empty()) {
        out.Raw("<proplist />\n");
    } else {
        out.Raw("<proplist>\n");
        WriteEntries(out, list, 1);
        out.Raw("</proplist>\n");
    }
    return out.Finish();
}

} // namespace

bool WritePropList(const PropList& list, UTF8String& xml)
{
    try {
        UTF8String text;
        WriteDocument(list, [&text](std::string_view chunk) {
            text.append(chunk);
            return true;
        });
        xml.swap(text);
        return true;
    } catch (const std::bad_alloc&) {
        KAFH_TRACE("WritePropList", 5, "out of memory");
        return false;
    }
}

bool ReadPropList(const UTF8String& xml, PropList& list)
{
    try {
        pugi::xml_document document;
        const pugi::xml_parse_result result =
            document.load_buffer(xml.data(), xml.size(), kParseFlags, pugi::encoding_utf8);
        if (!result) {
            KAFH_TRACE("ReadPropList", 5, "malformed XML at offset " << result.offset << ": " << result.description());
            return false;
        }
        PropList parsed;
        if (!ReadDocument(document, parsed)) {
            KAFH_TRACE("ReadPropList", 5, "not a property list");
            return false;
        }
        list = std::move(parsed);
        return true;
    } catch (const std::bad_alloc&) {
        KAFH_TRACE("ReadPropList", 5, "out of memory");
        return false;
    }
}

bool SavePropList(filesupport::File& file, const PropList& list)
{
    // Streamed into the temporary file: a large catalogue is never held as one string.
    bool built = true;
    const bool saved = filesupport::WriteFileAtomically(
        file.GetPath(), [&](const std::function<bool(std::string_view)>& append) {
            try {
                return WriteDocument(list, append);
            } catch (const std::bad_alloc&) {
                built = false;
                return false;
            }
        });
    if (!built) {
        KAFH_TRACE("SavePropList", 5, "out of memory");
    }
    if (!saved) {
        KAFH_TRACE("SavePropList", 5, "\"" << file.GetPath().native() << "\": not saved");
        return false;
    }
    return true;
}

bool LoadPropList(const UTF16String& path, PropList& list, bool merge)
{
    try {
        const std::filesystem::path filePath = filesupport::ToPath(path);
        std::string buffer;
        if (!filesupport::ReadRegularFile(filePath, buffer)) {
            KAFH_TRACE("LoadPropList", 5, "\"" << filePath.native() << "\": not a readable regular file");
            return false;
        }
        // Parsed in place: the buffer outlives the document.
        pugi::xml_document document;
        const pugi::xml_parse_result result = document.load_buffer_inplace(buffer.data(), buffer.size(), kParseFlags);
        if (!result) {
            KAFH_TRACE("LoadPropList", 5,
                       "\"" << filePath.native() << "\": " << result.description() << " at offset " << result.offset);
            return false;
        }
        PropList parsed;
        if (!ReadDocument(document, parsed)) {
            KAFH_TRACE("LoadPropList", 5, "\"" << filePath.native() << "\": not a property list");
            return false;
        }
        if (merge) {
            list.Merge(std::move(parsed));
        } else {
            list = std::move(parsed);
        }
        return true;
    } catch (const std::bad_alloc&) {
        KAFH_TRACE("LoadPropList", 5, "out of memory");
        return false;
    }
}

} // namespace kelcore::proplist::utils
