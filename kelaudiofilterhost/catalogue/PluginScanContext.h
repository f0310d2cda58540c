// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginLocator.h"
#include "kelaudiofilterhost/services/RefCountedObject.h"

#include <cstdint>
#include <vector>

namespace kelaudiofilterhost {

/// One technology's scan of a list of modules, one small step per call. Each back end derives its own.
/// Held through boost::intrusive_ptr.
class PluginScanContext : public kelcore::utility::RefCountedObject {
public:
    ~PluginScanContext() override = default;

    /// Takes the modules to scan and starts again at the first.
    virtual void BeginScan(const std::vector<PluginLocator>& locators) = 0;
    /// The module of the coming step, a progress text such as " (3/12)" and its index in the list;
    /// false once every module is done.
    virtual bool GetCurrentPlugin(PluginLocator& locator, UTF16String& progressSuffix, std::uint32_t& index) const = 0;
    /// Does one step; false once every module is done.
    virtual bool ScanNextPlugin() = 0;
};

} // namespace kelaudiofilterhost
