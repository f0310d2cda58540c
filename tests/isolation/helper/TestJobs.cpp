// SPDX-License-Identifier: GPL-3.0-or-later
// A helper program with jobs that misbehave on demand, for testing RunJob and the scan's classification.
// It links the shared library, as applications do.
#include "kelaudiofilterhost/isolation/IsolatedJob.h"
#include "kelaudiofilterhost/isolation/JobHelper.h"
#include "kelaudiofilterhost/isolation/ModuleScan.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/Strings.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace kelaudiofilterhost::isolation;

namespace {

// The scan-modules job's requests ("<type> <length>\n<path>") and answers ("C<length>\n<xml>").
bool ServeModules()
{
    FILE* requests = ::fdopen(5, "r");
    bool poisoned = false;
    int type = 0;
    std::size_t length = 0;
    while (requests != nullptr && std::fscanf(requests, "%d %zu", &type, &length) == 2 && std::fgetc(requests) == '\n') {
        std::string path(length, '\0');
        if (std::fread(path.data(), 1, length, requests) != length) {
            break;
        }
        kelcore::trail::SetStep("scan");
        if (poisoned || path.ends_with("Crash.so")) {
            std::signal(SIGSEGV, SIG_DFL);
            std::raise(SIGSEGV);
        }
        poisoned = path.ends_with("Poison.so");
        const std::string xml = "<proplist><value key=\"num_plugin_infos\" type=\"int32\" data=\"0\" /></proplist>";
        const std::string frame = "C" + std::to_string(xml.size()) + "\n" + xml;
        if (::write(3, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) {
            break;
        }
        kelcore::trail::SetStep("wait");
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const JobTable jobs{
        // The client name, then the first argument repeated as often as the second says.
        {"echo",
         [](const std::vector<std::string>& arguments, std::string& payload) {
             payload = kelcore::UTF16to8(kelcore::config::GetClientName()) + "\n";
             for (int i = std::atoi(arguments.at(1).c_str()); i > 0; --i) {
                 payload += arguments.at(0);
             }
             return true;
         }},
        {"fail",
         [](const std::vector<std::string>&, std::string& payload) {
             payload = "no such parameter";
             return false;
         }},
        {"crash",
         [](const std::vector<std::string>&, std::string& payload) {
             payload = "half an answer";
             kelcore::trail::SetStep("process");
             kelcore::trail::EnterCall("/plugins/Broken.so", "processReplacing");
             // Die of the signal itself, not through a sanitizer's report.
             std::signal(SIGSEGV, SIG_DFL);
             std::raise(SIGSEGV);
             return true;
         }},
        {"exit", [](const std::vector<std::string>&, std::string&) -> bool { std::exit(3); }},
        // Spins in a plug-in call, beside a process of its own that holds what it inherited.
        {"spin",
         [](const std::vector<std::string>&, std::string&) {
             kelcore::trail::SetStep("save");
             kelcore::trail::EnterCall("/plugins/Spin.so", "effGetChunk");
             if (::fork() == 0) {
                 for (;;) {
                     ::pause();
                 }
             }
             for (;;) {
                 ::pause();
             }
             return true;
         }},
        // Where the shared library this program links finds the helper.
        {"find-helper",
         [](const std::vector<std::string>&, std::string& payload) {
             payload = FindHelper().string();
             return true;
         }},
        // The scan job's name, dying before it loads anything: the host's failure, not the module's.
        {kScanModuleJob, [](const std::vector<std::string>&, std::string&) -> bool { std::abort(); }},
        // Module after module, by name: "Poison" describes nothing but damages the process, so that the
        // next module crashes in it; "Crash" always crashes; the others describe nothing.
        {kScanModulesJob, [](const std::vector<std::string>&, std::string&) { return ServeModules(); }},
    };
    return RunJobHelper(argc, argv, jobs);
}
