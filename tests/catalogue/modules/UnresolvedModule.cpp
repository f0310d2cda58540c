// SPDX-License-Identifier: GPL-3.0-or-later
// A module needing a symbol no library defines: loading it with RTLD_NOW must fail.
extern "C" int KafhTestSymbolDefinedNowhere();

extern "C" __attribute__((visibility("default"))) int KafhTestCallsMissing()
{
    return KafhTestSymbolDefinedNowhere() + 1;
}
