// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/PluginCallTrail.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelcore;

// What a watching parent relies on: the step and the call a child was in when it died, read from
// shared memory the dead child wrote.
TEST(PluginCallTrail, AParentReadsWhereADeadChildWas)
{
    void* area = mmap(nullptr, trail::kAreaSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        trail::UseArea(area);
        trail::SetStep("process");
        { const trail::CallScope scope("/plugins/first.so", "effOpen"); }
        const std::string module(900, 'm'); // longer than the area keeps
        trail::EnterCall(module.c_str(), "processReplacing");
        std::raise(SIGKILL);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    const auto seen = trail::Read(area);
    EXPECT_EQ(seen.step, "process");
    EXPECT_EQ(seen.call, "processReplacing");
    EXPECT_TRUE(seen.inCall);
    EXPECT_GT(seen.module.size(), 100u);
    EXPECT_LT(seen.module.size(), 900u);
    EXPECT_EQ(seen.module, std::string(seen.module.size(), 'm'));
    munmap(area, trail::kAreaSize);

    // In this process: a returned call reads as "after", and nothing known reads as nothing.
    trail::UseArea(nullptr);
    EXPECT_EQ(trail::Describe(trail::Read()), "");
    trail::SetStep("create");
    { const trail::CallScope scope("/plugins/x.so", "effOpen"); }
    EXPECT_EQ(trail::Describe(trail::Read()), "step \"create\", after effOpen of \"/plugins/x.so\"");
    trail::EnterCall("/plugins/x.so", "effGetChunk");
    EXPECT_EQ(trail::Describe(trail::Read()), "step \"create\", in effGetChunk of \"/plugins/x.so\"");
    trail::LeaveCall();
    trail::UseArea(nullptr);
}
