// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/IsolatedSuite.h"

#include "kelaudiofilterhost/isolation/ChildWatch.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

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

SuitePartResult RunPart(const SuitePart& part, const SuiteOptions& options)
{
    if (!options.captureOutput) {
        return {part.name, RunForked(part.work, options), {}};
    }
    internal::Descriptor output(::memfd_create("kafh-suite-output", MFD_CLOEXEC));
    if (output.Get() < 0) {
        return {part.name, RunForked(part.work, options), {}};
    }
    const int fd = output.Get();
    const Work work = [&part, fd](std::string& payload) {
        std::fflush(stdout);
        std::fflush(stderr);
        ::dup2(fd, STDOUT_FILENO);
        ::dup2(fd, STDERR_FILENO);
        return part.work(payload);
    };
    auto result = RunForked(work, options);
    return {part.name, std::move(result), ReadEnd(fd, options.outputLimit)};
}

} // namespace

std::vector<SuitePartResult> RunSuite(const std::vector<SuitePart>& parts, const SuiteOptions& options,
                                      const SuiteObserver& observer)
{
    std::vector<SuitePartResult> results;
    results.reserve(parts.size());
    for (const auto& part : parts) {
        auto done = RunPart(part, options);
        if (observer) {
            observer(done);
        }
        results.push_back(std::move(done));
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
