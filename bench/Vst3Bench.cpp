// SPDX-License-Identifier: GPL-3.0-or-later
// The VST 3 back end against calling the same plug-ins by hand: a catalogue scan of the installed
// bundles against the bare start/describe/instantiate/stop floor. Modules stay loaded for the life
// of a process, so every pass runs cold in a child process of its own, timed inside the child.
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleScanner.h"
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"
#include "kelaudiofilterhost/vst3/VST3Technology.h"

#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivsthostapplication.h>

#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace kelaudiofilterhost;
using namespace Steinberg;

std::vector<PluginLocator> InstalledModules()
{
    return vst3::CollectVST3PluginsIn({u"/usr/lib/vst3"});
}

/// Runs pass in a child process and answers the seconds it took there; negative when the child
/// failed. The child ends with _exit: plug-in threads and statics are not the pass's cost.
template <class Pass>
double SecondsInChild(const Pass& pass)
{
    int channel[2];
    if (::pipe(channel) != 0) {
        return -1.0;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        const auto start = std::chrono::steady_clock::now();
        pass();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const bool written = ::write(channel[1], &seconds, sizeof seconds) == sizeof seconds;
        ::_exit(written ? 0 : 1);
    }
    ::close(channel[1]);
    double seconds = -1.0;
    if (child < 0 || ::read(channel[0], &seconds, sizeof seconds) != sizeof seconds) {
        seconds = -1.0;
    }
    ::close(channel[0]);
    int status = 0;
    if (child > 0 && (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
        seconds = -1.0;
    }
    return seconds;
}

template <class Pass>
void TimeColdPasses(benchmark::State& state, const Pass& pass)
{
    for (auto _ : state) {
        const double seconds = SecondsInChild(pass);
        if (seconds < 0.0) {
            state.SkipWithError("a pass failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
}

void ScanIntoFreshCatalogue(benchmark::State& state)
{
    const auto modules = InstalledModules();
    if (modules.empty()) {
        state.SkipWithError("no VST 3 modules installed");
        return;
    }
    vst3::RegisterVST3Technology();
    PluginModuleInfoManager::GetInstance().ClearAll(true);
    AudioFilterDescriptorManager::GetInstance().ClearExternalInfos();
    TimeColdPasses(state, [&] {
        boost::intrusive_ptr<PluginModuleScanner> scanner = new PluginModuleScanner(modules);
        scanner->BeginScan();
        while (scanner->ContinueScan()) {
        }
        scanner->EndScan();
    });
}
BENCHMARK(ScanIntoFreshCatalogue)
    ->Name("vst3_scan_vs_floor/candidate")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

/// The least host context a plug-in accepts: a name and nothing to create.
class FloorHost final : public Vst::IHostApplication {
public:
    tresult PLUGIN_API queryInterface(const TUID requested, void** object) override
    {
        if (FUnknownPrivate::iidEqual(requested, FUnknown::iid) ||
            FUnknownPrivate::iidEqual(requested, Vst::IHostApplication::iid)) {
            *object = this;
            return kResultOk;
        }
        *object = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
    tresult PLUGIN_API getName(Vst::String128 name) override
    {
        std::memset(name, 0, sizeof(Vst::String128));
        name[0] = 'f';
        return kResultOk;
    }
    tresult PLUGIN_API createInstance(TUID, TUID, void** object) override
    {
        *object = nullptr;
        return kResultFalse;
    }
};

/// Every class described, each audio class's component and controller made, started and ended;
/// the factory released.
KAFH_VST3_PLUGIN_CALL void DescribeAndInstantiate(IPluginFactory& factory, FloorHost& host)
{
    const int32 count = factory.countClasses();
    for (int32 index = 0; index < count; ++index) {
        PClassInfo info;
        if (factory.getClassInfo(index, &info) != kResultOk || std::strcmp(info.category, kVstAudioEffectClass) != 0) {
            continue;
        }
        Vst::IComponent* component = nullptr;
        if (factory.createInstance(info.cid, Vst::IComponent::iid, reinterpret_cast<void**>(&component)) != kResultOk ||
            component == nullptr) {
            continue;
        }
        component->initialize(&host);
        TUID controllerID;
        Vst::IEditController* controller = nullptr;
        if (component->getControllerClassId(controllerID) == kResultOk &&
            factory.createInstance(controllerID, Vst::IEditController::iid, reinterpret_cast<void**>(&controller)) ==
                kResultOk &&
            controller != nullptr) {
            controller->initialize(&host);
            controller->terminate();
            controller->release();
        }
        component->terminate();
        component->release();
    }
    factory.release();
}

void ScanFloor(benchmark::State& state)
{
    std::vector<std::string> libraries;
    for (const auto& locator : InstalledModules()) {
        const UTF16String library = vst3::ResolveVST3ModuleLibrary(locator.GetPath());
        if (!library.empty()) {
            libraries.push_back(kelcore::UTF16to8(library));
        }
    }
    if (libraries.empty()) {
        state.SkipWithError("no VST 3 modules installed");
        return;
    }
    TimeColdPasses(state, [&] {
        FloorHost host;
        for (const auto& path : libraries) {
            void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (library == nullptr) {
                continue;
            }
            const auto entry = reinterpret_cast<bool (*)(void*)>(::dlsym(library, "ModuleEntry"));
            const auto exit = reinterpret_cast<bool (*)()>(::dlsym(library, "ModuleExit"));
            const auto getFactory = reinterpret_cast<IPluginFactory* (*)()>(::dlsym(library, "GetPluginFactory"));
            if ((entry == nullptr || entry(library)) && getFactory != nullptr) {
                if (IPluginFactory* factory = getFactory()) {
                    DescribeAndInstantiate(*factory, host);
                }
                if (exit != nullptr) {
                    exit();
                }
            }
            ::dlclose(library);
        }
    });
}
BENCHMARK(ScanFloor)->Name("vst3_scan_vs_floor/baseline")->UseManualTime()->Unit(benchmark::kMillisecond);
// The floor kafh scan is held to (KafhScanBench.cpp).
BENCHMARK(ScanFloor)->Name("kafh_scan_vs_floor_vst3/baseline")->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
