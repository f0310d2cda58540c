// SPDX-License-Identifier: GPL-3.0-or-later
// A module exporting one function, for the module-loading tests.
extern "C" __attribute__((visibility("default"))) int KafhTestAnswer()
{
    return 42;
}
