// SPDX-License-Identifier: GPL-3.0-or-later
// The property-list reader, and the XML parser under the banned-plug-in list, on arbitrary text.
// A list that reads must write and read back equal: saved settings come back exactly.
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/XmlParser.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct CountingHandler : kelcore::xml::AbstractParseHandler {
    void StartElement(const kelcore::UTF8String& name, const kelcore::xml::AttributeMap& attributes) override
    {
        events += name.size() + attributes.size();
    }
    void Characters(const kelcore::UTF8String& text) override { events += text.size(); }
    std::size_t events = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const kelcore::UTF8String text(reinterpret_cast<const char*>(data), size);
    using namespace kelcore::proplist;

    PropList list;
    if (utils::ReadPropList(text, list)) {
        kelcore::UTF8String written;
        PropList again;
        if (!utils::WritePropList(list, written) || !utils::ReadPropList(written, again) || again != list) {
            std::fprintf(stderr, "property list does not survive writing and reading:\n%s\n", written.c_str());
            std::abort();
        }
    }

    CountingHandler handler;
    kelcore::xml::GetParser(handler)->ParseText(text);
    return 0;
}
