// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/IsolatedSuite.h"

#include "kelaudiofilterhost/isolation/ChildWatch.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

namespace kelaudiofilterhost::isolation {

namespace {

std::string ReadEnd(int fd, std::size_t limit)
{
    struct stat status{};
    if (::fstat(fd, &status) != 0 || status.st_size <= 0) {
        return {};
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    const std::size_t count = std::min(size, limit);
    std::string text(count, '\0');
    const auto got = ::pread(fd, text.data(), count, static_cast<off_t>(size - count));
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

// A part being run: its child, its watch and where its output goes.
struct RunningPart {
    std::size_t index = 0;
    internal::Descriptor output;
    internal::ForkedChild child;
    std::unique_ptr<internal::ChildWatcher> watcher;
};

void StartPart(const SuitePart& part, const SuiteOptions& options, RunningPart& running, Result& failure)
{
    int fd = -1;
    if (options.captureOutput) {
        running.output.Reset(::memfd_create("kafh-suite-output", MFD_CLOEXEC));
        fd = running.output.Get();
    }
    const Work work = [&part, fd](std::string& payload) {
        if (fd >= 0) {
            std::fflush(stdout);
            std::fflush(stderr);
            ::dup2(fd, STDOUT_FILENO);
            ::dup2(fd, STDERR_FILENO);
        }
        return part.work(payload);
    };
    if (!internal::StartForked(work, running.child, failure.detail)) {
        return;
    }
    running.watcher = std::make_unique<internal::ChildWatcher>(running.child.pid, running.child.answer.Get(),
                                                               running.child.trail.Area(), options,
                                                               running.child.start);
}

} // namespace

std::vector<SuitePartResult> RunSuite(const std::vector<SuitePart>& parts, const SuiteOptions& options,
                                      const SuiteObserver& observer)
{
    std::vector<SuitePartResult> results(parts.size());
    const unsigned jobs = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::unique_ptr<RunningPart>> running;
    std::vector<pollfd> watched;
    std::size_t next = 0;
    const auto finish = [&](RunningPart& part, Result result) {
        auto& done = results[part.index];
        done.name = parts[part.index].name;
        done.index = part.index;
        done.result = std::move(result);
        if (part.output.Get() >= 0) {
            done.output = ReadEnd(part.output.Get(), options.outputLimit);
        }
        if (observer) {
            observer(done);
        }
    };
    while (next < parts.size() || !running.empty()) {
        while (next < parts.size() && running.size() < jobs) {
            auto part = std::make_unique<RunningPart>();
            part->index = next++;
            Result failure;
            StartPart(parts[part->index], options, *part, failure);
            if (part->watcher) {
                running.push_back(std::move(part));
            } else {
                finish(*part, std::move(failure));
            }
        }
        if (running.empty()) {
            continue;
        }
        watched.clear();
        auto wait = std::chrono::milliseconds::max();
        for (auto& part : running) {
            wait = std::min(wait, part->watcher->Prepare(watched));
        }
        if (wait.count() > 0) {
            ::poll(watched.data(), watched.size(), static_cast<int>(wait.count()));
        }
        for (auto it = running.begin(); it != running.end();) {
            auto& part = **it;
            part.watcher->Collect();
            if (part.watcher->Done()) {
                finish(part, part.watcher->Finish());
                it = running.erase(it);
            } else {
                ++it;
            }
        }
    }
    return results;
}

std::string FindCheckerSummary(const std::string& output)
{
    const auto at = output.rfind("SUMMARY: ");
    if (at == std::string::npos || (at > 0 && output[at - 1] != '\n')) {
        return {};
    }
    return output.substr(at, output.find('\n', at) - at);
}

std::string DescribeFault(const Result& result)
{
    auto text = result.Describe();
    if (result.outcome == Outcome::Lost) {
        // Memory checkers end a process with a status of their own after their report.
        text += " (a memory checker's finding, or the plug-in called exit)";
    }
    return text;
}

} // namespace kelaudiofilterhost::isolation
