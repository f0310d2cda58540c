// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Cli.h"
#include "tools/kafh/Signals.h"

int main(int argc, char** argv)
{
    // First of all: a signal that arrives later must find the handler in place.
    kafh::InstallSignalHandling();
    return kafh::RunKafh(argc, argv);
}
