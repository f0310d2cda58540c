// SPDX-License-Identifier: GPL-3.0-or-later
// KafhNoEntry: a well-formed shared library that is not a plug-in: it exports a function, but
// neither "VSTPluginMain" nor "main". Loading it as a module must fail cleanly.

extern "C" __attribute__((visibility("default"))) int KafhNoEntryVersion()
{
    return 1;
}
