// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/XmlParser.h"

#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <pugixml.hpp>

namespace kelcore::xml {

namespace {

constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_cdata;

void Report(const pugi::xml_node& node, AbstractParseHandler& handler)
{
    for (const auto& child : node.children()) {
        switch (child.type()) {
        case pugi::node_element: {
            AttributeMap attributes;
            for (const auto& attribute : child.attributes()) {
                attributes.emplace(attribute.name(), attribute.value());
            }
            const UTF8String name = child.name();
            handler.StartElement(name, attributes);
            Report(child, handler);
            handler.EndElement(name);
            break;
        }
        case pugi::node_pcdata:
            handler.Characters(child.value());
            break;
        case pugi::node_cdata:
            handler.StartCDATA();
            handler.Characters(child.value());
            handler.EndCDATA();
            break;
        case pugi::node_comment:
            handler.Comment(child.value());
            break;
        default:
            break;
        }
    }
}

int Deliver(const pugi::xml_document& document, const pugi::xml_parse_result& result, AbstractParseHandler& handler,
            const UTF8String& source)
{
    if (!result) {
        KAFH_TRACE("xml::Parser", 5, source << ": " << result.description() << " at offset " << result.offset);
        return static_cast<int>(result.status);
    }
    handler.StartDocument();
    Report(document, handler);
    handler.EndDocument();
    return 0;
}

} // namespace

int Parser::ParseFile(const UTF16String& path)
{
    pugi::xml_document document;
    const auto result = document.load_file(filesupport::ToPath(path).c_str(), kParseOptions);
    UTF8String source = "\"";
    source.append(UTF16to8(path)).append("\"");
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
