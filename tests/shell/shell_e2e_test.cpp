// The real executable on its own X server: how it opens, how it ends, what it prints.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it

#include "shell_support.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;
using velmora::test::DemoProcess;
using velmora::test::XServer;

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

// Limits on things that must happen, generous so that a busy machine does not miss them.
constexpr auto kStartLimit = 120s;  // building the Demo loads every texture and shader
constexpr auto kEndLimit = 60s;

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
    EXPECT_EQ(demo.wait(kEndLimit), 0) << demo.err();
    EXPECT_EQ(demo.out(), "");
    EXPECT_TRUE(velmora::test::playedItsSoundtrack(demo.err()));
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
    EXPECT_EQ(demo.wait(kEndLimit), 0) << demo.err();
    EXPECT_EQ(demo.out(), "");
    EXPECT_TRUE(velmora::test::playedItsSoundtrack(demo.err()));
}

TEST(Shell, WithoutADisplayExitsZeroAndSaysWhyOnStderr) {
    DemoProcess demo("");
    EXPECT_EQ(demo.wait(kEndLimit), 0);
    EXPECT_EQ(demo.out(), "");
    const std::string err = demo.err();
    EXPECT_NE(err.find("velmora: "), std::string::npos) << err;
}

}  // namespace
