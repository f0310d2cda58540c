// SPDX-License-Identifier: GPL-3.0-or-later
// The VST 2 back end against calling the same effects by hand: processing through the filter against
// processReplacing on the same buffers, and a catalogue scan against the bare load/open/close floor.
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleScanner.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"
#include "kelaudiofilterhost/vst2/VSTTechnology.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <vector>

namespace {

using namespace kelaudiofilterhost;

constexpr int kFrames = 256;

UTF16String TestGainPath()
{
#ifdef KAFH_TESTPLUGINS_VST2_DIR
    return kelcore::UTF8to16(std::string(KAFH_TESTPLUGINS_VST2_DIR) + "/KafhGain.so");
#else
    return {};
#endif
}

boost::intrusive_ptr<vst::VSTAudioFilter> OpenEffect(const UTF16String& path)
{
    if (path.empty() || !std::filesystem::exists(kelcore::filesupport::ToPath(path))) {
        return {};
    }
    auto module = vst::GetOrLoadModule(path);
    if (!module) {
        return {};
    }
    std::vector<UTF16String> ids;
    module->GetPluginInfo(ids);
    if (ids.empty()) {
        return {};
    }
    auto filter = boost::static_pointer_cast<vst::VSTAudioFilter>(module->CreateAudioFilter(ids.front()));
    if (filter) {
        filter->SetSampleRate(48000.0f);
        filter->SetBlockSize(kFrames);
        filter->Resume();
    }
    return filter;
}

struct StereoBuffers {
    StereoBuffers() : in(2, std::vector<float>(kFrames, 0.25f)), out(2, std::vector<float>(kFrames))
    {
        for (int c = 0; c < 2; ++c) {
            inPointers[c] = in[c].data();
            outPointers[c] = out[c].data();
        }
    }
    std::vector<std::vector<float>> in;
    std::vector<std::vector<float>> out;
    float* inPointers[2];
    float* outPointers[2];
};

void ProcessThroughFilter(benchmark::State& state, const UTF16String& path)
{
    auto filter = OpenEffect(path);
    if (!filter) {
        state.SkipWithError("plug-in not available");
        return;
    }
    StereoBuffers buffers;
    for (auto _ : state) {
        filter->Process(buffers.inPointers, buffers.outPointers, kFrames);
        benchmark::ClobberMemory();
    }
}

void ProcessDirectly(benchmark::State& state, const UTF16String& path)
{
    auto filter = OpenEffect(path);
    if (!filter) {
        state.SkipWithError("plug-in not available");
        return;
    }
    vst::abi::AEffect* effect = filter->GetEffect();
    StereoBuffers buffers;
    for (auto _ : state) {
        effect->processReplacing(effect, buffers.inPointers, buffers.outPointers, kFrames);
        benchmark::ClobberMemory();
    }
}

BENCHMARK_CAPTURE(ProcessThroughFilter, gain, TestGainPath())->Name("vst2_process_vs_direct/candidate");
BENCHMARK_CAPTURE(ProcessDirectly, gain, TestGainPath())->Name("vst2_process_vs_direct/baseline");
BENCHMARK_CAPTURE(ProcessThroughFilter, zamcomp, UTF16String(u"/usr/lib/vst/ZamComp-vst.so"))
    ->Name("vst2_process_vs_direct_zamcomp/candidate");
BENCHMARK_CAPTURE(ProcessDirectly, zamcomp, UTF16String(u"/usr/lib/vst/ZamComp-vst.so"))
    ->Name("vst2_process_vs_direct_zamcomp/baseline");

std::vector<PluginLocator> InstalledModules()
{
    return vst::CollectVSTPlugins(kelcore::filesupport::Dir(UTF16String(u"/usr/lib/vst")));
}

void ScanIntoFreshCatalogue(benchmark::State& state)
{
    const auto modules = InstalledModules();
    if (modules.empty()) {
        state.SkipWithError("no VST 2 modules installed");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        PluginModuleInfoManager::GetInstance().ClearAll(true);
        AudioFilterDescriptorManager::GetInstance().ClearExternalInfos();
        state.ResumeTiming();
        boost::intrusive_ptr<PluginModuleScanner> scanner = new PluginModuleScanner(modules);
        scanner->BeginScan();
        while (scanner->ContinueScan()) {
        }
        scanner->EndScan();
    }
}
BENCHMARK(ScanIntoFreshCatalogue)->Name("vst2_scan_vs_floor/candidate")->Unit(benchmark::kMillisecond);

std::intptr_t FloorHost(vst::abi::AEffect*, std::int32_t opcode, std::int32_t, std::intptr_t, void*, float)
{
    return opcode == vst::abi::audioMasterVersion ? 2400 : 0;
}

std::vector<std::string> InstalledPaths()
{
    std::vector<std::string> paths;
    for (const auto& locator : InstalledModules()) {
        paths.push_back(kelcore::UTF16to8(locator.GetPath()));
    }
    return paths;
}

void FloorPass(const std::vector<std::string>& paths)
{
    for (const auto& path : paths) {
        void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            continue;
        }
        auto entry = reinterpret_cast<vst::abi::PluginEntryProc>(::dlsym(library, "VSTPluginMain"));
        if (entry == nullptr) {
            entry = reinterpret_cast<vst::abi::PluginEntryProc>(::dlsym(library, "main"));
        }
        if (entry != nullptr) {
            if (vst::abi::AEffect* effect = entry(&FloorHost)) {
                effect->dispatcher(effect, vst::abi::effOpen, 0, 0, nullptr, 0.0f);
                effect->dispatcher(effect, vst::abi::effClose, 0, 0, nullptr, 0.0f);
            }
        }
        ::dlclose(library);
    }
}

void ScanFloor(benchmark::State& state)
{
    const auto paths = InstalledPaths();
    if (paths.empty()) {
        state.SkipWithError("no VST 2 modules installed");
        return;
    }
    for (auto _ : state) {
        FloorPass(paths);
    }
}
BENCHMARK(ScanFloor)->Name("vst2_scan_vs_floor/baseline")->Unit(benchmark::kMillisecond);

// The floor as a scan meets it: once, in a fresh process (forked, so the process start is not counted),
// with the modules not yet loaded. The child ends with _exit: plug-in clean-up is not the pass's cost.
void ColdScanFloor(benchmark::State& state)
{
    const auto paths = InstalledPaths();
    if (paths.empty()) {
        state.SkipWithError("no VST 2 modules installed");
        return;
    }
    for (auto _ : state) {
        int channel[2];
        if (::pipe(channel) != 0) {
            state.SkipWithError("no pipe");
            break;
        }
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(channel[0]);
            const auto start = std::chrono::steady_clock::now();
            FloorPass(paths);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            ::_exit(::write(channel[1], &seconds, sizeof seconds) == sizeof seconds ? 0 : 1);
        }
        ::close(channel[1]);
        double seconds = -1.0;
        if (child < 0 || ::read(channel[0], &seconds, sizeof seconds) != sizeof seconds) {
            seconds = -1.0;
        }
        ::close(channel[0]);
        int status = 0;
        if (child > 0) {
            ::waitpid(child, &status, 0);
        }
        if (seconds < 0.0) {
            state.SkipWithError("a pass failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
}
BENCHMARK(ColdScanFloor)->Name("kafh_scan_vs_floor/baseline")->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
