// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/JobHelper.h"

#include "kelaudiofilterhost/catalogue/PluginModule.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/isolation/JobProtocol.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/Strings.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>

namespace kelaudiofilterhost::isolation {

namespace {

void WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return; // the caller is gone; nobody is left to tell
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

[[noreturn]] void Answer(std::string payload, bool completed)
{
    payload += protocol::kEndMark;
    payload += completed ? protocol::kCompleted : protocol::kFailed;
    WriteAll(protocol::kAnswerDescriptor, payload.data(), payload.size());
    std::fflush(nullptr);
    // No exit handlers and no static destructors: a plug-in's clean-up code must not decide the answer.
    ::_exit(0);
}

} // namespace

int RunJobHelper(int argc, char** argv, const JobTable& jobs)
{
    if (argc <= protocol::kJobArgument || ::fcntl(protocol::kAnswerDescriptor, F_GETFD) < 0 ||
        ::fcntl(protocol::kTrailDescriptor, F_GETFD) < 0) {
        std::cerr << "kafh-isolate runs plug-in work for kelaudiofilterhost; it is started by the library, "
                     "not by hand\n";
        return 2;
    }
    // Die with the caller rather than linger with a hung plug-in.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (std::to_string(::getppid()) != argv[protocol::kParentArgument]) {
        ::_exit(127);
    }
    // Processes a plug-in starts inherit neither the answer nor the trail.
    ::fcntl(protocol::kAnswerDescriptor, F_SETFD, FD_CLOEXEC);
    void* area = ::mmap(nullptr, kelcore::trail::kAreaSize, PROT_READ | PROT_WRITE, MAP_SHARED,
                        protocol::kTrailDescriptor, 0);
    ::close(protocol::kTrailDescriptor);
    if (area == MAP_FAILED) {
        Answer("the helper cannot map its trail", false);
    }
    kelcore::trail::UseArea(area);

    kelcore::config::SetClientName(kelcore::UTF8to16(argv[protocol::kClientArgument]));
    PluginModule::SetLocaleIdentifier(kelcore::UTF8to16(argv[protocol::kLocaleArgument]));
    Initialize();

    const std::string name = argv[protocol::kJobArgument];
    const auto job = jobs.find(name);
    if (job == jobs.end()) {
        Answer("the helper has no job \"" + name + "\"", false);
    }
    const std::vector<std::string> arguments(argv + protocol::kFirstJobArgument, argv + argc);
    std::string payload;
    bool completed = false;
    try {
        completed = job->second(arguments, payload);
    } catch (const std::exception& error) {
        payload += std::string("\nexception escaped the isolated work: ") + error.what();
    } catch (...) {
        payload += "\nexception of unknown type escaped the isolated work";
    }
    Answer(std::move(payload), completed);
}

} // namespace kelaudiofilterhost::isolation
