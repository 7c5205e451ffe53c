#pragma once
// What the shell tests share: a private X server and the demo as a child process.
#include "temp_dir.h"

#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
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

// A private Xvfb of the given size, on a display number it picks itself.
class XServer {
public:
    XServer(int width, int height) {
        // Servers started at the same moment can race for one display number and the loser
        // gives up: start again after a pause that differs between processes.
        for (int tries = 0; tries < 10 && name_.empty(); ++tries) {
            if (tries > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50 + (getpid() * 37 + tries * 91) % 250));
            start(width, height);
            if (name_.empty()) continue;
            if (::Display* d = XOpenDisplay(name_.c_str())) {
                XCloseDisplay(d);
            } else {
                stop();
                name_.clear();
            }
        }
    }
    ~XServer() { stop(); }
    const std::string& name() const { return name_; }

private:
    void start(int width, int height) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            dup2(fds[1], 3);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
            execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp", "-noreset",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char buf[32] = {};
        ssize_t n = read(fds[0], buf, sizeof buf - 1);
        close(fds[0]);
        if (n > 0) name_ = ":" + std::string(buf, static_cast<size_t>(n - (buf[n - 1] == '\n')));
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
    explicit DemoProcess(const std::string& display) {
        pid_ = fork();
        if (pid_ == 0) {
            if (display.empty()) {
                unsetenv("DISPLAY");
                unsetenv("WAYLAND_DISPLAY");
            } else {
                setenv("DISPLAY", display.c_str(), 1);
            }
            setenv("SDL_AUDIODRIVER", "dummy", 1);  // never play sound from a test
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

}  // namespace velmora::test
