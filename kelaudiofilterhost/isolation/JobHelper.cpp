// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/JobHelper.h"

#include "kelaudiofilterhost/catalogue/PluginModule.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/isolation/ChildWatch.h"
#include "kelaudiofilterhost/isolation/JobProtocol.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/Strings.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

namespace kelaudiofilterhost::isolation {

using namespace internal;

int RunJobHelper(int argc, char** argv, const JobTable& jobs)
{
    if (argc <= protocol::kJobArgument || ::fcntl(protocol::kAnswerDescriptor, F_GETFD) < 0 ||
        ::fcntl(protocol::kTrailDescriptor, F_GETFD) < 0) {
        std::cerr << "kafh-isolate runs plug-in work for kelaudiofilterhost; it is started by the library, "
                     "not by hand\n";
        return 2;
    }
    DieWithParent(static_cast<pid_t>(std::strtol(argv[protocol::kParentArgument], nullptr, 10)));
    // Processes a plug-in starts inherit neither the answer nor the trail.
    ::fcntl(protocol::kAnswerDescriptor, F_SETFD, FD_CLOEXEC);
    void* area = ::mmap(nullptr, kelcore::trail::kAreaSize, PROT_READ | PROT_WRITE, MAP_SHARED,
                        protocol::kTrailDescriptor, 0);
    ::close(protocol::kTrailDescriptor);
    if (area == MAP_FAILED) {
        Answer(protocol::kAnswerDescriptor, "the helper cannot map its trail", false);
    }
    kelcore::trail::UseArea(area);

    kelcore::config::SetClientName(kelcore::UTF8to16(argv[protocol::kClientArgument]));
    PluginModule::SetLocaleIdentifier(kelcore::UTF8to16(argv[protocol::kLocaleArgument]));
    Initialize();

    const std::string name = argv[protocol::kJobArgument];
    const auto job = jobs.find(name);
    if (job == jobs.end()) {
        Answer(protocol::kAnswerDescriptor, "the helper has no job \"" + name + "\"", false);
    }
    const std::vector<std::string> arguments(argv + protocol::kFirstJobArgument, argv + argc);
    std::string payload;
    const bool completed = RunWork([&](std::string& into) { return job->second(arguments, into); }, payload);
    Answer(protocol::kAnswerDescriptor, std::move(payload), completed);
}

} // namespace kelaudiofilterhost::isolation
