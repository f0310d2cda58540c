// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/ModuleScanContextBase.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <utility>

namespace kelaudiofilterhost {

ModuleScanContextBase::ModuleScanContextBase(const char* traceCategory, UTF16String applicationFolder,
                                             bool unloadModules)
    : mTraceCategory(traceCategory), mApplicationFolder(std::move(applicationFolder)), mUnloadModules(unloadModules)
{
}

ModuleScanContextBase::~ModuleScanContextBase()
{
    ReleaseModule();
}

void ModuleScanContextBase::ReleaseModule()
{
    if (mModule && mUnloadModules) {
        mModule->Unload();
    }
    mModule.reset();
}

// Modules in the application's own folder are catalogued as the application's plug-ins.
bool ModuleScanContextBase::IsInApplicationFolder(const UTF16String& modulePath) const
{
    const auto folder = kelcore::filesupport::File(modulePath).Parent().FullPath();
    const auto own = kelcore::filesupport::Dir(kelcore::filesupport::Dir::AppDir(), mApplicationFolder).FullPath();
    return kelcore::EqualIgnoringAsciiCase(folder, own);
}

void ModuleScanContextBase::BeginScan(const std::vector<PluginLocator>& locators)
{
    mLocators = locators;
    mLocatorIndex = 0;
    mModuleInfo.reset();
    mComponentIDs.clear();
    mDescriptors.clear();
    mComponentIndex = 0;
    mModule.reset();
}

bool ModuleScanContextBase::GetCurrentPlugin(PluginLocator& locator, UTF16String& progressSuffix,
                                             std::uint32_t& index) const
{
    if (mLocatorIndex >= mLocators.size()) {
        return false;
    }
    locator = mLocators[mLocatorIndex];
    if (mComponentIDs.size() < 2) {
        progressSuffix.clear();
    } else {
        progressSuffix = u" (" + kelcore::NumberToString(mComponentIndex + 1) + u"/" +
                         kelcore::NumberToString(static_cast<std::uint32_t>(mComponentIDs.size())) + u")";
    }
    index = mLocatorIndex;
    return true;
}

bool ModuleScanContextBase::ScanNextPlugin()
{
    if (!mModule && mLocatorIndex < mLocators.size()) {
        ReleaseModule();
        const auto& path = mLocators[mLocatorIndex].GetPath();
        mModule = LoadModule(path);
        if (mModule) {
            mComponentIDs.clear();
            mModuleInfo = mModule->GetPluginInfo(mComponentIDs);
        } else {
            // The category differs per back end, so the site cannot be the macro's static one.
            kelcore::debug::TraceSite site(mTraceCategory, 5);
            if (site.IsEnabled()) {
                kelcore::oUTF8StringStream line;
                line << "\"" << path << "\": cannot be loaded";
                site.Write(line.str());
            }
        }
    }
    if (mLocatorIndex < mLocators.size()) {
        const auto& locator = mLocators[mLocatorIndex];
        if (!mComponentIDs.empty() && mComponentIndex < mComponentIDs.size() && mModule) {
            auto descriptor = DescribeFilter(*mModule, mComponentIDs[mComponentIndex], locator,
                                             IsInApplicationFolder(locator.GetPath()));
            if (descriptor) {
                mDescriptors.push_back(descriptor);
            }
        }
        ++mComponentIndex;
        if (mComponentIndex >= mComponentIDs.size()) {
            if (mModuleInfo) {
                PluginModuleInfoManager::GetInstance().AddPluginModuleInfo(mModuleInfo);
                for (const auto& descriptor : mDescriptors) {
                    AudioFilterDescriptorManager::GetInstance().AddAudioFilterDescriptor(descriptor);
                }
            }
            mModuleInfo.reset();
            mComponentIDs.clear();
            mDescriptors.clear();
            ReleaseModule();
            ++mLocatorIndex;
            mComponentIndex = 0;
        }
    }
    return mLocatorIndex < mLocators.size();
}

} // namespace kelaudiofilterhost
