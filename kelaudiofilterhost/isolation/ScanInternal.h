// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the one-module scan and the scan of many modules share. Internal to the isolation subsystem.

#include "kelaudiofilterhost/isolation/ModuleScan.h"

namespace kelaudiofilterhost::isolation::internal {

/// The scan-modules job's answers, one frame per module requested.
constexpr char kDescribedFrame = 'C'; ///< the module's records (possibly none) as configuration XML
constexpr char kFailedFrame = 'F';    ///< an exception escaped the scan; its text
constexpr char kHostFailedFrame = 'H'; ///< the helper cannot scan at all; why

/// Classifies the run of a module's scan (ModuleScanResult::run) into the result's outcome and detail.
void ClassifyScan(const ModuleScanOptions& options, ModuleScanResult& result);

/// A module as the scan-modules job reads it: "<type> <length>\n<path>".
std::string ModuleRequest(const PluginLocator& locator);
/// Takes one whole request off the front of the buffer; false while none is whole, or when it is malformed
/// (then malformed is set).
bool TakeModuleRequest(std::string& buffer, PluginLocator& locator, bool& malformed);

/// The step a child announces just before it loads the module.
constexpr const char* kScanStep = "scan";

} // namespace kelaudiofilterhost::isolation::internal
