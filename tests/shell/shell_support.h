#pragma once
// What the shell tests share: a private X server and the demo as a child process.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it

#include "temp_dir.h"

#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace velmora::test {

using namespace std::chrono_literals;

inline std::string slurp(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// A private Xvfb of the given size. Servers that pick the lowest free display number race each
// other when several start at once (other test processes, other runs on the machine), so each try
// takes a display number of its own choosing from a wide range, and a taken one is simply skipped.
class XServer {
public:
    XServer(int width, int height) {
        std::random_device entropy;
        std::mt19937 pick(entropy() ^ static_cast<unsigned>(getpid()));
        std::uniform_int_distribution<int> numbers(1000, 30000);
        for (int tries = 0; tries < 40 && name_.empty(); ++tries) {
            const std::string name = ":" + std::to_string(numbers(pick));
            if (!start(name, width, height)) continue;
            if (::Display* d = XOpenDisplay(name.c_str())) {
                XCloseDisplay(d);
                name_ = name;
            } else {
                stop();
            }
        }
    }
    ~XServer() { stop(); }
    const std::string& name() const { return name_; }

private:
    // True once the server says it is ready on `name`; false if it gave up first.
    bool start(const std::string& name, int width, int height) {
        int fds[2];
        if (pipe(fds) != 0) return false;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            dup2(fds[1], 3);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
            execlp("Xvfb", "Xvfb", name.c_str(), "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten",
                   "tcp", "-noreset", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char buf[32] = {};
        const ssize_t n = read(fds[0], buf, sizeof buf - 1);  // the display number, once it listens
        close(fds[0]);
        if (n > 0) return true;
        stop();
        return false;
    }
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }
    pid_t pid_ = -1;
    std::string name_;
};

// The demo as a child process, its stdout and stderr kept in files.
class DemoProcess {
public:
    // `soundServer`: the sound server it plays to, where not the run's own (PULSE_SERVER).
    explicit DemoProcess(const std::string& display, const std::string& soundServer = "") {
        pid_ = fork();
        if (pid_ == 0) {
            if (display.empty()) {
                unsetenv("DISPLAY");
                unsetenv("WAYLAND_DISPLAY");
            } else {
                setenv("DISPLAY", display.c_str(), 1);
            }
            // Sound goes to the run's own server (a null sink) when there is one, never to a
            // real device: without one, to a server that is not there and SDL's dummy driver.
            if (!soundServer.empty()) setenv("PULSE_SERVER", soundServer.c_str(), 1);
            if (!std::getenv("PULSE_SERVER")) {
                setenv("PULSE_SERVER", ("unix:" + dir_ / "no-server").c_str(), 1);
                setenv("SDL_AUDIODRIVER", "dummy", 1);
            }
            int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(err, 2);
            execl(VELMORA_EXE, VELMORA_EXE, static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~DemoProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The exit status, or -1 if it has not ended within `limit` (it is then killed).
    int wait(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (std::chrono::steady_clock::now() < end) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }
    bool running() { return waitpid(pid_, nullptr, WNOHANG) == 0; }
    std::string out() const { return slurp(outPath_); }
    std::string err() const { return slurp(errPath_); }

private:
    velmora::test::TempDir dir_{"velmora-demo"};
    std::string outPath_ = dir_ / "stdout";
    std::string errPath_ = dir_ / "stderr";
    pid_t pid_ = -1;
};

// Whether the demo, by what it said on stderr, played its soundtrack through the sound server
// of this run (the test command starts one and names it in PULSE_SERVER) rather than timing a
// silent clock.
inline ::testing::AssertionResult playedItsSoundtrack(const std::string& err) {
    if (!std::getenv("PULSE_SERVER"))
        return ::testing::AssertionFailure() << "no sound server named in PULSE_SERVER (scripts/test.sh starts one)";
    if (err.find("audio: pulse,") == std::string::npos || err.find("silent clock") != std::string::npos)
        return ::testing::AssertionFailure() << "the demo did not play its soundtrack:\n" << err;
    return ::testing::AssertionSuccess();
}

}  // namespace velmora::test
