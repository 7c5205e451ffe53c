// The real executable on its own X server: how it opens, how it ends, what it prints.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

std::string slurp(const std::string& path) {
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
    explicit DemoProcess(const std::string& display)
        : outPath_("/tmp/velmora-e2e-" + std::to_string(getpid()) + ".out"),
          errPath_("/tmp/velmora-e2e-" + std::to_string(getpid()) + ".err") {
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
    std::string outPath_;
    std::string errPath_;
    pid_t pid_ = -1;
};

class Display {
public:
    explicit Display(const std::string& name) {
        for (int tries = 0; !dpy_ && tries < 50; ++tries) {
            dpy_ = XOpenDisplay(name.c_str());
            if (!dpy_) std::this_thread::sleep_for(100ms);
        }
    }
    ~Display() {
        if (dpy_) XCloseDisplay(dpy_);
    }
    ::Display* get() const { return dpy_; }

    // The top-level window titled `title`, waiting up to `limit` for it to be mapped.
    Window find(const char* title, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            Window root = DefaultRootWindow(dpy_), parent, *children = nullptr;
            unsigned n = 0;
            Window found = 0;
            if (XQueryTree(dpy_, root, &root, &parent, &children, &n)) {
                for (unsigned i = 0; i < n && !found; ++i) {
                    char* name = nullptr;
                    XWindowAttributes a;
                    if (XFetchName(dpy_, children[i], &name) && name && std::string(name) == title &&
                        XGetWindowAttributes(dpy_, children[i], &a) && a.map_state == IsViewable)
                        found = children[i];
                    if (name) XFree(name);
                }
                if (children) XFree(children);
            }
            if (found) return found;
            std::this_thread::sleep_for(50ms);
        }
        return 0;
    }

    // What a window manager sends when the user closes a window.
    void requestClose(Window w) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = XInternAtom(dpy_, "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy_, "WM_DELETE_WINDOW", False));
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(dpy_, w, False, NoEventMask, &e);
        XFlush(dpy_);
    }

private:
    ::Display* dpy_ = nullptr;
};

int xdotool(const std::string& display, const std::string& args) {
    return std::system(("DISPLAY=" + display + " xdotool " + args + " >/dev/null 2>&1").c_str());
}

constexpr auto kStartLimit = 60s;  // building the Demo loads every texture and shader

TEST(Shell, OpensFullScreenAndEndsOnEscapePressOnly) {
    XServer x(640, 360);
    ASSERT_FALSE(x.name().empty());
    DemoProcess demo(x.name());
    Display dpy(x.name());
    ASSERT_NE(dpy.get(), nullptr) << "display " << x.name();
    Window w = dpy.find("Velmora", kStartLimit);
    ASSERT_NE(w, 0u) << demo.err();

    XWindowAttributes a;
    ASSERT_TRUE(XGetWindowAttributes(dpy.get(), w, &a));
    EXPECT_EQ(a.x, 0);
    EXPECT_EQ(a.y, 0);
    EXPECT_EQ(a.width, 640);
    EXPECT_EQ(a.height, 360);

    // Other keys, and a release of Escape on its own, do nothing.
    ASSERT_EQ(xdotool(x.name(), "key space"), 0);
    ASSERT_EQ(xdotool(x.name(), "keyup Escape"), 0);
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(demo.running());

    ASSERT_EQ(xdotool(x.name(), "key Escape"), 0);
    EXPECT_EQ(demo.wait(20s), 0) << demo.err();
    EXPECT_EQ(demo.out(), "");
}

TEST(Shell, EndsOnACloseRequest) {
    XServer x(320, 240);
    ASSERT_FALSE(x.name().empty());
    DemoProcess demo(x.name());
    Display dpy(x.name());
    ASSERT_NE(dpy.get(), nullptr) << "display " << x.name();
    Window w = dpy.find("Velmora", kStartLimit);
    ASSERT_NE(w, 0u) << demo.err();
    dpy.requestClose(w);
    EXPECT_EQ(demo.wait(20s), 0) << demo.err();
    EXPECT_EQ(demo.out(), "");
}

TEST(Shell, WithoutADisplayExitsZeroAndSaysWhyOnStderr) {
    DemoProcess demo("");
    EXPECT_EQ(demo.wait(20s), 0);
    EXPECT_EQ(demo.out(), "");
    const std::string err = demo.err();
    EXPECT_NE(err.find("velmora: "), std::string::npos) << err;
}

}  // namespace
