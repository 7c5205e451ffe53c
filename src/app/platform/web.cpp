// The shell in a browser. The page has already put the canvas in full screen with the viewer's
// click (a browser grants that only to a gesture), so the window is the canvas at the screen's
// size in device pixels. The browser's frame callback drives the loop; it presents each frame
// when the callback returns and delivers events between callbacks.
#include "app/shell.h"

#include <GLFW/glfw3.h>
#include <emscripten.h>

namespace {

struct Running {
    GLFWwindow* window;
    FrameLoop loop;
};
// The run the browser is driving: the page can only reach it through an exported function.
Running* running = nullptr;

EM_JS(int, screenDevicePixels, (int vertical), {
    var ratio = window.devicePixelRatio || 1;
    return Math.round((vertical ? screen.height : screen.width) * ratio);
});

// Whether a run's frame loop is going: a run that could not start one (no window, no GL) ends
// as soon as main returns, and the page looks here to know.
EM_JS(void, tellPageLooping, (int looping), {
    Module["velmoraLooping"] = !!looping;
});

EM_JS(void, tellPageRunEnded, (), {
    if (Module["onRunEnded"]) Module["onRunEnded"]();
});

void frameCallback(void* arg) {
    Running* run = static_cast<Running*>(arg);
    if (run->loop.frame(run->loop.user)) return;
    emscripten_cancel_main_loop();
    run->loop.finish(run->loop.user);
    running = nullptr;
    delete run;
    tellPageLooping(0);
    tellPageRunEnded();
}

}  // namespace

const GLFWvidmode* currentVideoMode(GLFWmonitor* /*monitor*/) {
    static GLFWvidmode mode;
    mode.width = screenDevicePixels(0);
    mode.height = screenDevicePixels(1);
    mode.redBits = mode.greenBits = mode.blueBits = 8;
    mode.refreshRate = 60;
    return mode.width > 0 && mode.height > 0 ? &mode : nullptr;
}

GLFWwindow* createFullScreenWindow(GLFWmonitor* /*monitor*/, const GLFWvidmode& mode, const char* title) {
    return glfwCreateWindow(mode.width, mode.height, title, nullptr, nullptr);
}

// The page's style hides the cursor over the canvas; the browser's GLFW has no hidden mode.
void showCursor(GLFWwindow* /*window*/, bool /*shown*/) {}

void runFrameLoop(GLFWwindow* window, FrameLoop loop) {
    running = new Running{window, loop};
    tellPageLooping(1);
    emscripten_set_main_loop_arg(frameCallback, running, 0, 0);
}

// The page asks for the end of the run as Escape would: the viewer left full screen.
extern "C" EMSCRIPTEN_KEEPALIVE void velmoraRequestClose() {
    if (running) glfwSetWindowShouldClose(running->window, GLFW_TRUE);
}
