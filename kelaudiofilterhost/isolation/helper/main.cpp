// SPDX-License-Identifier: GPL-3.0-or-later
// kafh-isolate: the process in which kelaudiofilterhost runs plug-in work for applications, started by
// isolation::RunJob. It links the shared library, whose back ends register themselves on load.
#include "kelaudiofilterhost/isolation/JobHelper.h"
#include "kelaudiofilterhost/isolation/ModuleScan.h"

int main(int argc, char** argv)
{
    using namespace kelaudiofilterhost::isolation;
    return RunJobHelper(argc, argv, {{kScanModuleJob, RunScanModuleJob}, {kScanModulesJob, RunScanModulesJob}});
}
