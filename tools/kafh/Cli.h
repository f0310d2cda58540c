// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kafh {

/// Parses the command line and runs the command; returns the process exit code
/// (0 ok, 1 failure, 2 usage error).
int RunKafh(int argc, char** argv);

} // namespace kafh
