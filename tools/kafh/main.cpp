// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/render/AudioFile.h"
#include "tools/kafh/Cli.h"
#include "tools/kafh/Signals.h"

int main(int argc, char** argv)
{
    // First of all: a signal that arrives later must find the handler in place, and the audio files
    // the library writes must tell it their temporary files.
    kafh::InstallSignalHandling();
    kelaudiofilterhost::render::SetTemporaryFileGuard({&kafh::ArmTemporaryFile, &kafh::DisarmTemporaryFile});
    return kafh::RunKafh(argc, argv);
}
