// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/ParallelScan.h"

#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/isolation/ChildWatch.h"
#include "kelaudiofilterhost/isolation/IsolatedJob.h"
#include "kelaudiofilterhost/isolation/ScanInternal.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/Strings.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

namespace kelaudiofilterhost::isolation {

using namespace internal;

namespace {

/// Bytes of a module: its file, or every file of a bundle; 0 when it cannot be read.
std::uintmax_t ModuleSize(const std::filesystem::path& path)
{
    std::error_code status;
    if (!std::filesystem::is_directory(path, status)) {
        const auto size = std::filesystem::file_size(path, status);
        return status ? 0 : size;
    }
    std::uintmax_t total = 0;
    for (std::filesystem::recursive_directory_iterator it(path, status), end; !status && it != end; it.increment(status)) {
        if (it->is_regular_file(status)) {
            const auto size = it->file_size(status);
            total += status ? 0 : size;
            status.clear();
        }
    }
    return total;
}

using Clock = std::chrono::steady_clock;

// A module waiting for a child; a retry must go to a fresh one.
struct Pending {
    std::size_t index = 0;
    bool retry = false;
};

// One child that takes module after module.
struct Child {
    Helper helper;
    Descriptor ended;
    std::string answer;
    bool answerClosed = false;
    // Modules it answered: a child that answered none is fresh.
    unsigned answered = 0;
    std::optional<Pending> current;
    Clock::time_point startedAt;
};

bool SendAll(int fd, const std::string& text)
{
    std::size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t written = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(written);
    }
    return true;
}

// Replaced by rename, without a flush to disk: the record guards against a killed scan, not a lost
// machine, and it is written whenever a module starts or ends.
void WriteRecord(const std::filesystem::path& record, const std::string& contents)
{
    std::filesystem::path temporary = record;
    temporary += ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    bool written = true;
    for (std::size_t done = 0; done < contents.size();) {
        const ssize_t got = ::write(fd, contents.data() + done, contents.size() - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            written = false;
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), record.c_str()) != 0) {
        ::unlink(temporary.c_str());
    }
}

class Scan {
public:
    Scan(const std::vector<PluginLocator>& modules, const ParallelScanOptions& options, const ScanCallbacks& callbacks)
        : mModules(modules), mOptions(options), mCallbacks(callbacks), mResults(modules.size())
    {
        unsigned jobs = options.jobs;
        if (jobs == 0) {
            jobs = std::max(1u, std::thread::hardware_concurrency());
        }
        mChildren.resize(std::min<std::size_t>(jobs, std::max<std::size_t>(modules.size(), 1)));
        std::vector<std::size_t> order(modules.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        // With several children, the biggest modules (often the slowest to describe: they carry their
        // own data) start first, so that no child is left alone with one at the end. Results still
        // reach the catalogue in the order given.
        if (mChildren.size() > 1) {
            std::vector<std::uintmax_t> sizes(modules.size());
            for (std::size_t i = 0; i < sizes.size(); ++i) {
                sizes[i] = ModuleSize(kelcore::filesupport::ToPath(modules[i].GetPath()));
            }
            std::stable_sort(order.begin(), order.end(),
                             [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });
        }
        for (const std::size_t i : order) {
            mPending.push_back({i, false});
        }
        mJob.timeout = std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(options.timeoutSeconds * 1000.0)));
        mJob.helper = options.helper;
        mJob.keepStandardError = options.verbose;
        if (options.verbose) {
            mJob.traceConfiguration = "*=5";
        }
    }

    ~Scan()
    {
        for (auto& child : mChildren) {
            Retire(child);
        }
    }

    ScanReport Run()
    {
        const auto start = Clock::now();
        if (!mOptions.inProgressRecord.empty()) {
            mReport.interrupted = ReadInProgressRecord(mOptions.inProgressRecord);
            std::error_code status;
            std::filesystem::create_directories(mOptions.inProgressRecord.parent_path(), status);
        }
        mLastSave = start;
        while (mDelivered < mModules.size() && mReport.error.empty()) {
            Dispatch();
            if (!mReport.error.empty()) {
                break;
            }
            Wait();
            for (auto& child : mChildren) {
                Service(child);
            }
            Deliver();
            // A module to ban is handed over at once, so the application can save its banned set.
            if (mFaultWaits || ((mDirty || !mBatch.empty()) && Clock::now() - mLastSave >= mOptions.saveInterval)) {
                TakeBatch();
                Save();
            }
        }
        for (auto& child : mChildren) {
            Retire(child);
        }
        TakeBatch();
        if (mDirty) {
            Save();
        }
        if (!mOptions.inProgressRecord.empty()) {
            std::error_code status;
            std::filesystem::remove(mOptions.inProgressRecord, status);
        }
        mReport.completed = mReport.error.empty();
        mReport.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return std::move(mReport);
    }

private:
    void Retire(std::unique_ptr<Child>& child)
    {
        if (child) {
            EndHelper(child->helper.pid);
            child.reset();
        }
    }

    bool Start(std::unique_ptr<Child>& child, std::string& error)
    {
        child = std::make_unique<Child>();
        if (!StartHelper(kScanModulesJob, {mOptions.staticBannedList.string()}, mJob, true, child->helper, error)) {
            child.reset();
            return false;
        }
#ifdef SYS_pidfd_open
        child->ended.Reset(static_cast<int>(::syscall(SYS_pidfd_open, child->helper.pid, 0)));
#endif
        ::fcntl(child->helper.answer.Get(), F_SETFL, ::fcntl(child->helper.answer.Get(), F_GETFL) | O_NONBLOCK);
        return true;
    }

    void Dispatch()
    {
        bool changed = false;
        for (auto& child : mChildren) {
            if ((child && child->current) || mPending.empty()) {
                continue;
            }
            const Pending next = mPending.front();
            const bool worn = child && mOptions.modulesPerChild != 0 && child->answered >= mOptions.modulesPerChild;
            if (child && (worn || (next.retry && child->answered > 0))) {
                Retire(child);
            }
            // A child that ended between modules is replaced once; a fresh one that cannot take a request
            // is answered for by Service when it is reaped.
            for (int attempt = 0; attempt < 2; ++attempt) {
                std::string error;
                if (!child && !Start(child, error)) {
                    ModuleScanResult result;
                    result.outcome = ModuleScanOutcome::NotStarted;
                    result.detail = error;
                    mResults[next.index] = std::move(result);
                    break;
                }
                if (SendAll(child->helper.requests.Get(), ModuleRequest(mModules[next.index])) ||
                    child->answered == 0) {
                    child->current = next;
                    child->startedAt = Clock::now();
                    break;
                }
                Retire(child);
            }
            mPending.pop_front();
            changed = true;
            if (mResults[next.index]) {
                mReport.error = "cannot scan \"" + kelcore::UTF16to8(mModules[next.index].GetPath()) +
                                "\": " + mResults[next.index]->detail;
                return;
            }
        }
        if (changed) {
            RunningChanged();
        }
    }

    void Wait()
    {
        const auto now = Clock::now();
        auto left = std::chrono::milliseconds(1000);
        std::vector<pollfd> watched;
        for (const auto& child : mChildren) {
            if (!child) {
                continue;
            }
            if (!child->answerClosed) {
                watched.push_back({child->helper.answer.Get(), POLLIN, 0});
            }
            if (child->ended.Get() >= 0) {
                watched.push_back({child->ended.Get(), POLLIN, 0});
            } else {
                left = std::min(left, std::chrono::milliseconds(20));
            }
            if (child->current) {
                left = std::min(left, std::chrono::ceil<std::chrono::milliseconds>(child->startedAt + mJob.timeout - now));
            }
        }
        if (mDirty || !mBatch.empty()) {
            left = std::min(left, std::chrono::ceil<std::chrono::milliseconds>(mLastSave + mOptions.saveInterval - now));
        }
        if (watched.empty() || left.count() <= 0) {
            return;
        }
        ::poll(watched.data(), watched.size(), static_cast<int>(left.count()));
    }

    void Service(std::unique_ptr<Child>& child)
    {
        if (!child) {
            return;
        }
        if (!child->answerClosed) {
            ReadAvailable(child->helper.answer.Get(), child->answer, child->answerClosed);
        }
        TakeAnswers(*child);
        siginfo_t info{};
        const bool exited = ::waitid(P_PID, static_cast<id_t>(child->helper.pid), &info,
                                     WEXITED | WNOHANG | WNOWAIT) == 0 &&
                            info.si_pid == child->helper.pid;
        const bool late = child->current && Clock::now() >= child->startedAt + mJob.timeout;
        if (!exited && !late) {
            return;
        }
        const int status = EndHelper(child->helper.pid);
        bool atEnd = false;
        ReadAvailable(child->helper.answer.Get(), child->answer, atEnd);
        TakeAnswers(*child);
        if (child->current) {
            Result run;
            if (!exited) {
                run.outcome = Outcome::TimedOut;
            } else if (WIFSIGNALED(status)) {
                run.outcome = Outcome::Crashed;
                run.signal = WTERMSIG(status);
            } else {
                run.outcome = Outcome::Lost;
                run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            run.trail = kelcore::trail::Read(child->helper.trail.Area());
            Finish(*child, std::move(run));
        }
        child.reset();
    }

    void TakeAnswers(Child& child)
    {
        char kind = 0;
        std::string payload;
        while (TakeFrame(child.answer, kind, payload)) {
            if (!child.current) {
                continue;
            }
            Result run;
            run.payload = std::move(payload);
            if (kind == kDescribedFrame) {
                run.outcome = Outcome::Completed;
                run.trail.step = kScanStep;
            } else {
                run.outcome = Outcome::Failed;
                // A host failure is answered before the module is loaded.
                run.trail.step = kind == kFailedFrame ? kScanStep : "";
            }
            Finish(child, std::move(run));
            ++child.answered;
        }
    }

    void Finish(Child& child, Result run)
    {
        const Pending item = *child.current;
        child.current.reset();
        ModuleScanResult result;
        run.seconds = std::chrono::duration<double>(Clock::now() - child.startedAt).count();
        result.seconds = run.seconds;
        result.run = std::move(run);
        ClassifyScan(mOptions, result);
        KAFH_TRACE("isolation::ScanModules", 5,
                   "\"" << kelcore::UTF16to8(mModules[item.index].GetPath()) << "\": " << result.run.Describe()
                        << " after " << result.seconds << " s; " << result.detail);
        const bool childEnded = result.run.outcome == Outcome::Crashed || result.run.outcome == Outcome::TimedOut ||
                                result.run.outcome == Outcome::Lost;
        if ((IsBanOutcome(result.outcome) || childEnded) && child.answered > 0 && !item.retry) {
            // The child scanned other modules before: one of them may have damaged it, or left code
            // running in it that ended it before this module was even loaded.
            mPending.push_front({item.index, true});
        } else {
            mResults[item.index] = std::move(result);
            ++mFinished;
        }
        RunningChanged();
    }

    // Takes the results that are in, in the order given, into the batch the catalogue takes next.
    void Deliver()
    {
        while (mDelivered < mModules.size() && mResults[mDelivered]) {
            mFaultWaits = mFaultWaits || IsBanOutcome(mResults[mDelivered]->outcome);
            mBatch.emplace_back(mDelivered, std::move(*mResults[mDelivered]));
            mResults[mDelivered].reset();
            ++mDelivered;
        }
    }

    // The catalogue takes the batch: modules scanned again lose their old records in one pass (one by
    // one, a rescan would cost a pass over the catalogue per module), then each module's new records
    // go in and the application hears of it.
    void TakeBatch()
    {
        auto& catalogue = PluginModuleInfoManager::GetInstance();
        std::vector<PluginLocator> known;
        std::vector<PluginLocator> enabled;
        for (const auto& [index, result] : mBatch) {
            const PluginLocator& locator = mModules[index];
            if (result.outcome != ModuleScanOutcome::HostFailed && catalogue.FindPluginInfo(locator)) {
                known.push_back(locator);
                if (catalogue.IsPluginEnabled(locator, true)) {
                    enabled.push_back(locator);
                }
            }
        }
        catalogue.RemovePluginLocators(known);
        mDirty = mDirty || !known.empty();
        for (const auto& [index, result] : mBatch) {
            const PluginLocator& locator = mModules[index];
            if (result.outcome == ModuleScanOutcome::Described) {
                catalogue.AddConfiguration(result.xml, true);
                mDirty = true;
            }
            if (IsBanOutcome(result.outcome)) {
                mReport.faulted.push_back(locator);
            }
        }
        for (const auto& locator : enabled) {
            catalogue.SetPluginEnabled(locator, true);
        }
        for (const auto& [index, result] : mBatch) {
            std::string error;
            if (mCallbacks.scanned && mReport.error.empty() && !mCallbacks.scanned(mModules[index], result, error)) {
                mReport.error = error;
            }
        }
        mBatch.clear();
        mFaultWaits = false;
    }

    void Save()
    {
        if (!mDirty) {
            return;
        }
        mDirty = false;
        mLastSave = Clock::now();
        std::string error;
        if (mCallbacks.save && !mCallbacks.save(error) && mReport.error.empty()) {
            mReport.error = error;
        }
    }

    void RunningChanged()
    {
        ScanProgress progress;
        progress.finished = mFinished;
        progress.total = mModules.size();
        std::vector<std::size_t> running;
        for (const auto& child : mChildren) {
            if (child && child->current) {
                running.push_back(child->current->index);
            }
        }
        std::sort(running.begin(), running.end());
        std::string record;
        for (const auto index : running) {
            progress.running.push_back(mModules[index]);
            record += ModuleRequest(mModules[index]);
        }
        if (!mOptions.inProgressRecord.empty()) {
            WriteRecord(mOptions.inProgressRecord, record);
        }
        if (mCallbacks.progress) {
            mCallbacks.progress(progress);
        }
    }

    const std::vector<PluginLocator>& mModules;
    const ParallelScanOptions& mOptions;
    const ScanCallbacks& mCallbacks;
    JobOptions mJob;
    std::vector<std::unique_ptr<Child>> mChildren;
    std::deque<Pending> mPending;
    // Results wait here until those of the modules before them are in, so the catalogue takes them in
    // the order given whatever the number of children.
    std::vector<std::optional<ModuleScanResult>> mResults;
    std::size_t mDelivered = 0;
    std::vector<std::pair<std::size_t, ModuleScanResult>> mBatch;
    bool mFaultWaits = false;
    std::size_t mFinished = 0;
    bool mDirty = false;
    Clock::time_point mLastSave;
    ScanReport mReport;
};

} // namespace

ScanReport ScanModules(const std::vector<PluginLocator>& modules, const ParallelScanOptions& options,
                       const ScanCallbacks& callbacks)
{
    // A deadline that cannot be computed would time out every module.
    if (!std::isfinite(options.timeoutSeconds) || !(options.timeoutSeconds > 0.0) || options.timeoutSeconds > 1e9) {
        ScanReport report;
        report.error = "no usable timeout";
        return report;
    }
    return Scan(modules, options, callbacks).Run();
}

std::vector<PluginLocator> ReadInProgressRecord(const std::filesystem::path& record)
{
    std::vector<PluginLocator> modules;
    std::string text;
    if (!kelcore::filesupport::ReadRegularFile(record, text)) {
        return modules;
    }
    PluginLocator locator;
    bool malformed = false;
    while (TakeModuleRequest(text, locator, malformed)) {
        modules.push_back(locator);
    }
    return modules;
}

} // namespace kelaudiofilterhost::isolation
