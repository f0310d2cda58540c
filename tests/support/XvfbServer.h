// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <csignal>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelaudiofilterhost::testing {

/// A private X server for one test process: Xvfb picks a free display itself and tells it through
/// -displayfd, so tests running in parallel never collide. Stopped when the object goes.
class XvfbServer {
public:
    explicit XvfbServer(const char* screen = "1024x768x24")
    {
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0) {
            return;
        }
        mPid = fork();
        if (mPid == 0) {
            // Only the write end goes to the server, under a number it is told.
            dup2(pipeFds[1], 3);
            const int devNull = open("/dev/null", O_WRONLY);
            if (devNull >= 0) {
                dup2(devNull, 1);
                dup2(devNull, 2);
            }
            execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp", "-noreset",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        std::string number;
        pollfd wait{pipeFds[0], POLLIN, 0};
        // The server writes its display number and a newline once it accepts clients.
        while (mPid > 0 && poll(&wait, 1, 10000) > 0) {
            char c = 0;
            if (read(pipeFds[0], &c, 1) != 1 || c == '\n') {
                break;
            }
            number += c;
        }
        close(pipeFds[0]);
        if (!number.empty()) {
            mDisplay = ":" + number;
        }
    }
    ~XvfbServer()
    {
        if (mPid > 0) {
            kill(mPid, SIGTERM);
            int status = 0;
            waitpid(mPid, &status, 0);
        }
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    /// ":N", or empty when the server could not be started.
    const std::string& GetDisplay() const { return mDisplay; }
    /// Points DISPLAY of this process at the server.
    void Export() const { setenv("DISPLAY", mDisplay.c_str(), 1); }

private:
    pid_t mPid = -1;
    std::string mDisplay;
};

} // namespace kelaudiofilterhost::testing
