// SPDX-License-Identifier: GPL-3.0-or-later
// The files the catalogue reads at start-up: the module catalogue, the banned set and the static
// banned list, each from the same bytes. Whatever is loaded must save again.
#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/services/File.h"

#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kelaudiofilterhost;
    kelcore::filesupport::File file(kafhfuzz::WriteInput(data, size));

    auto& catalogue = PluginModuleInfoManager::GetInstance();
    catalogue.ClearAll(true);
    catalogue.LoadConfiguration(file);
    (void)catalogue.GetConfigurationAsXML();
    for (const auto& locator : catalogue.GetPluginLocators()) {
        (void)catalogue.GetDisplayStringForLocator(locator);
    }
    catalogue.ClearAll(true);

    auto& banned = BannedPluginManager::GetInstance();
    banned.LoadConfiguration(file);
    banned.LoadStaticConfiguration(file);
    (void)banned.IsPluginBannedStatically(u"a.so", u"1", u"1");
    return 0;
}
