// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3ScanContext.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/Trace.h"

namespace kelaudiofilterhost::vst3 {

namespace {

// Modules in the application's own folder are catalogued as the application's plug-ins.
bool IsInApplicationFolder(const UTF16String& modulePath)
{
    const auto folder = kelcore::filesupport::File(modulePath).Parent().FullPath();
    const auto own = kelcore::filesupport::Dir(kelcore::filesupport::Dir::AppDir(), u"Plug-Ins/VST3").FullPath();
    return kelcore::EqualIgnoringAsciiCase(folder, own);
}

} // namespace

VST3ScanContext::VST3ScanContext() = default;

VST3ScanContext::~VST3ScanContext()
{
    ReleaseModule();
}

void VST3ScanContext::ReleaseModule()
{
    // The module cache keeps every module loaded: a later filter creation must find it ready.
    mModule.reset();
}

void VST3ScanContext::BeginScan(const std::vector<PluginLocator>& locators)
{
    mLocators = locators;
    mLocatorIndex = 0;
    mModuleInfo.reset();
    mComponentIDs.clear();
    mDescriptors.clear();
    mComponentIndex = 0;
    mModule.reset();
}

bool VST3ScanContext::GetCurrentPlugin(PluginLocator& locator, UTF16String& progressSuffix, std::uint32_t& index) const
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

bool VST3ScanContext::ScanNextPlugin()
{
    if (!mModule && mLocatorIndex < mLocators.size()) {
        ReleaseModule();
        const auto& path = mLocators[mLocatorIndex].GetPath();
        mModule = GetOrLoadModule(path);
        if (mModule) {
            mComponentIDs.clear();
            mModuleInfo = mModule->GetPluginInfo(mComponentIDs);
        } else {
            KAFH_TRACE("VST3ScanContext::ScanNextPlugin", 5, "\"" << path << "\": cannot be loaded");
        }
    }
    if (mLocatorIndex < mLocators.size()) {
        const auto& locator = mLocators[mLocatorIndex];
        if (!mComponentIDs.empty() && mComponentIndex < mComponentIDs.size() && mModule) {
            auto filter = mModule->CreateAudioFilter(mComponentIDs[mComponentIndex]);
            if (filter) {
                auto descriptor = filter->CreateFilterDescriptor(locator, IsInApplicationFolder(locator.GetPath()));
                if (descriptor) {
                    mDescriptors.push_back(descriptor);
                }
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

} // namespace kelaudiofilterhost::vst3
