// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What RunJob and the helper program agree on. Internal to the isolation subsystem.

namespace kelaudiofilterhost::isolation::protocol {

/// The helper writes its answer (as the forked child does, see ChildWatch.h) here rather than to standard
/// output, which plug-ins print to.
constexpr int kAnswerDescriptor = 3;
/// A memory file of kelcore::trail::kAreaSize bytes that the helper maps as its trail.
constexpr int kTrailDescriptor = 4;
/// A socket a job that serves many requests reads them from (jobs that take one have none).
constexpr int kRequestDescriptor = 5;

/// Positions on the helper's command line: program, parent process id, client name, locale, job, arguments.
constexpr int kParentArgument = 1;
constexpr int kClientArgument = 2;
constexpr int kLocaleArgument = 3;
constexpr int kJobArgument = 4;
constexpr int kFirstJobArgument = 5;

} // namespace kelaudiofilterhost::isolation::protocol
