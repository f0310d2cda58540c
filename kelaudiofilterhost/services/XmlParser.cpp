// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/XmlParser.h"

#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <pugixml.hpp>

#include <algorithm>
#include <vector>

namespace kelcore::xml {

namespace {

constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_cdata;
// Beyond pugixml's own status codes.
constexpr int kTooDeep = 1000;

// The deepest element nesting below the node, found without recursion; stops counting past the limit.
int ElementDepth(const pugi::xml_node& root, int limit)
{
    int depth = 0;
    int deepest = 0;
    pugi::xml_node node = root.first_child();
    while (node && deepest <= limit) {
        if (node.type() == pugi::node_element) {
            deepest = std::max(deepest, depth + 1);
            if (node.first_child()) {
                node = node.first_child();
                ++depth;
                continue;
            }
        }
        while (!node.next_sibling() && depth > 0) {
            node = node.parent();
            --depth;
        }
        node = node.next_sibling();
    }
    return deepest;
}

void ReportLeaf(const pugi::xml_node& node, AbstractParseHandler& handler)
{
    switch (node.type()) {
    case pugi::node_pcdata:
        handler.Characters(node.value());
        break;
    case pugi::node_cdata:
        handler.StartCDATA();
        handler.Characters(node.value());
        handler.EndCDATA();
        break;
    case pugi::node_comment:
        handler.Comment(node.value());
        break;
    default:
        break;
    }
}

// Document order, without recursion: the depth is bounded before, but a handler's own stack use
// should not add up per level either.
void Report(const pugi::xml_node& root, AbstractParseHandler& handler)
{
    std::vector<UTF8String> open;
    pugi::xml_node node = root.first_child();
    while (node) {
        if (node.type() == pugi::node_element) {
            AttributeMap attributes;
            for (const auto& attribute : node.attributes()) {
                attributes.emplace(attribute.name(), attribute.value());
            }
            open.emplace_back(node.name());
            handler.StartElement(open.back(), attributes);
            if (node.first_child()) {
                node = node.first_child();
                continue;
            }
            handler.EndElement(open.back());
            open.pop_back();
        } else {
            ReportLeaf(node, handler);
        }
        while (!node.next_sibling() && !open.empty()) {
            node = node.parent();
            handler.EndElement(open.back());
            open.pop_back();
        }
        node = node.next_sibling();
    }
}

int Deliver(const pugi::xml_document& document, const pugi::xml_parse_result& result, AbstractParseHandler& handler,
            const UTF8String& source)
{
    if (!result) {
        KAFH_TRACE("xml::Parser", 5, source << ": " << result.description() << " at offset " << result.offset);
        return static_cast<int>(result.status);
    }
    if (ElementDepth(document, kMaxElementDepth) > kMaxElementDepth) {
        KAFH_TRACE("xml::Parser", 5, source << ": elements nested deeper than " << kMaxElementDepth);
        return kTooDeep;
    }
    handler.StartDocument();
    Report(document, handler);
    handler.EndDocument();
    return 0;
}

} // namespace

int Parser::ParseFile(const UTF16String& path)
{
    UTF8String source = "\"";
    source.append(UTF16to8(path)).append("\"");
    std::string buffer;
    if (!filesupport::ReadRegularFile(filesupport::ToPath(path), buffer)) {
        KAFH_TRACE("xml::Parser", 5, source << ": not a readable regular file");
        return static_cast<int>(pugi::status_io_error);
    }
    pugi::xml_document document;
    const auto result = document.load_buffer_inplace(buffer.data(), buffer.size(), kParseOptions);
    return Deliver(document, result, mHandler, source);
}

int Parser::ParseText(const UTF8String& text)
{
    pugi::xml_document document;
    const auto result = document.load_buffer(text.data(), text.size(), kParseOptions);
    return Deliver(document, result, mHandler, "text");
}

std::unique_ptr<Parser> GetParser(AbstractParseHandler& handler)
{
    return std::make_unique<Parser>(handler);
}

} // namespace kelcore::xml
