// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>

namespace kafh {

/// Installs kafh's handling of SIGINT, SIGTERM and SIGHUP; called first thing in main, before
/// anything can leave a file behind. On any of them the temporary file kafh is writing (if any)
/// is removed and the process ends by that signal, as the shell expects.
void InstallSignalHandling();

/// Names the temporary file the signal handler removes on a terminating signal. False when one is
/// armed already or the name is too long; that file then stays to be cleared by a later save.
bool ArmTemporaryFile(const std::filesystem::path& temporary);
/// Forgets the armed temporary file (after it was renamed or removed).
void DisarmTemporaryFile();

/// The most worker children that can each have a temporary file removed on a terminating signal.
inline constexpr int kMaximumWorkers = 64;

/// In a child forked for plug-in work: takes a worker slot (shared with the parent when forked after
/// InstallSignalHandling), so that a terminating signal to the parent ends this child before the parent
/// removes the temporary file the child armed. With every slot taken, the file is not armed.
void BecomeWorker();
/// In the parent once worker children have ended, however: removes the temporary files they armed and
/// left behind, and frees their slots.
void CleanUpAfterWorkers();

/// For work that ends when asked (an editor window): from now on the first SIGINT or SIGTERM a
/// process gets only asks the work to stop (IsStopRequested, seen by worker children too); the
/// second ends the process as usual. Call in the parent before forking the worker.
void StopGentlyOnInterrupt();
/// Whether a signal asked gentle work to stop.
bool IsStopRequested();

} // namespace kafh
