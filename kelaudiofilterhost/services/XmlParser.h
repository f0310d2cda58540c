// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"

#include <map>
#include <memory>

namespace kelcore::xml {

using AttributeMap = std::map<UTF8String, UTF8String>;

/// Documents whose elements nest deeper are refused by every XML reader of the library.
constexpr int kMaxElementDepth = 512;

/// Receives the events of a parse in document order. Every operation does nothing by default.
class AbstractParseHandler {
public:
    virtual ~AbstractParseHandler() = default;
    virtual void StartDocument() {}
    virtual void StartElement(const UTF8String& /*name*/, const AttributeMap& /*attributes*/) {}
    virtual void EndElement(const UTF8String& /*name*/) {}
    virtual void StartCDATA() {}
    virtual void EndCDATA() {}
    virtual void Characters(const UTF8String& /*text*/) {}
    virtual void Comment(const UTF8String& /*text*/) {}
    virtual void EndDocument() {}
};

/// Parses a whole document and reports it to the handler. Malformed documents report nothing.
class Parser {
public:
    explicit Parser(AbstractParseHandler& handler) : mHandler(handler) {}
    /// 0 on success; a positive error code when the file is missing, malformed or nested deeper than
    /// kMaxElementDepth (then no event was sent).
    int ParseFile(const UTF16String& path);
    int ParseText(const UTF8String& text);

private:
    AbstractParseHandler& mHandler;
};

/// A parser that reports to the handler; the handler must outlive it.
std::unique_ptr<Parser> GetParser(AbstractParseHandler& handler);

} // namespace kelcore::xml
