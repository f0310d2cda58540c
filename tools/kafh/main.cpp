// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Cli.h"

int main(int argc, char** argv)
{
    return kafh::RunKafh(argc, argv);
}
