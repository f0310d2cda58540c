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
#include <cstdlib>

using namespace kelaudiofilterhost::isolation;

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
    };
    return RunJobHelper(argc, argv, jobs);
}
