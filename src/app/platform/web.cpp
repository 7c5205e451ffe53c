// The shell in a browser. The page has already put its stage in full screen with the viewer's
// click (a browser grants that only to a gesture), or let it fill the viewport where there is no
// element full screen, and has waited for the layout; the window is then the canvas at its
// displayed size in device pixels. The browser's frame callback drives the loop; it presents
// each frame when the callback returns and delivers events between callbacks.
#include "app/shell.h"
#include "render/timing.h"

#include <GLFW/glfw3.h>
#include <emscripten.h>

#include <algorithm>

namespace {

struct Running {
    GLFWwindow* window;
    FrameLoop loop;
};
// The run the browser is driving: the page can only reach it through an exported function.
Running* running = nullptr;

// The canvas's displayed size in device pixels, as laid out now.
EM_JS(int, canvasDevicePixels, (int vertical), {
    var box = Module["canvas"].getBoundingClientRect();
    var ratio = window.devicePixelRatio || 1;
    return Math.round((vertical ? box.height : box.width) * ratio);
});

// The page's style sizes the canvas; the browser's GLFW would fix it at the size it was made.
EM_JS(void, letPageSizeCanvas, (), {
    Module["canvas"].style.removeProperty("width");
    Module["canvas"].style.removeProperty("height");
});

// The canvas's context ends with the run, as a window's does on the desktop: the images live
// until then. The browser's GLFW never destroys a context, and a canvas hands the same one back
// to the next run, so it is lost here, and the GL layer lets go of its objects; the page puts a
// fresh canvas in its place.
EM_JS(void, destroyContext, (), {
    var context = GL.currentContext;
    if (!context) return;
    var lose = context.GLctx.getExtension("WEBGL_lose_context");
    GL.deleteContext(context.handle);
    ["buffers", "programs", "framebuffers", "renderbuffers", "textures", "shaders", "vaos",
     "queries", "samplers", "transformFeedbacks", "syncs", "uniforms"].forEach(function(table) {
        if (GL[table]) GL[table].length = 0;
    });
    if (GL.programInfos) GL.programInfos = {};
    if (lose) lose.loseContext();
});

// Whether a run's frame loop is going: a run that could not start one (no window, no GL) ends
// as soon as main returns, and the page looks here to know.
EM_JS(void, tellPageLooping, (int looping), {
    Module["velmoraLooping"] = !!looping;
});

EM_JS(void, tellPageRunEnded, (), {
    if (Module["onRunEnded"]) Module["onRunEnded"]();
});

void endRun(Running* run) {
    emscripten_cancel_main_loop();
    run->loop.finish(run->loop.user);
    destroyContext();
    running = nullptr;
    delete run;
    tellPageLooping(0);
    tellPageRunEnded();
}

void frameCallback(void* arg) {
    Running* run = static_cast<Running*>(arg);
    if (!run->loop.frame(run->loop.user)) endRun(run);
}

}  // namespace

// The canvas as the page laid it out, but never wider than the picture: on a screen wider than
// 16:9 the canvas's drawing buffer takes the picture's shape and the page shows it between
// bands, where the desktop would crop its top and bottom.
const GLFWvidmode* currentVideoMode(GLFWmonitor* /*monitor*/) {
    static GLFWvidmode mode;
    mode.height = canvasDevicePixels(1);
    mode.width = std::min(canvasDevicePixels(0),
                          static_cast<int>(static_cast<float>(mode.height) * velmora::kPictureAspect));
    mode.redBits = mode.greenBits = mode.blueBits = 8;
    mode.refreshRate = 60;
    return mode.width > 0 && mode.height > 0 ? &mode : nullptr;
}

GLFWwindow* createFullScreenWindow(GLFWmonitor* /*monitor*/, const GLFWvidmode& mode, const char* title) {
    GLFWwindow* window = glfwCreateWindow(mode.width, mode.height, title, nullptr, nullptr);
    letPageSizeCanvas();
    return window;
}

// The page's style hides the cursor over the canvas; the browser's GLFW has no hidden mode.
void showCursor(GLFWwindow* /*window*/, bool /*shown*/) {}

void runFrameLoop(GLFWwindow* window, FrameLoop loop) {
    running = new Running{window, loop};
    tellPageLooping(1);
    emscripten_set_main_loop_arg(frameCallback, running, 0, 0);
}

// The page ends the run at once, as a close request would at the next frame: the viewer left
// full screen or the tab, where no next frame may come.
extern "C" EMSCRIPTEN_KEEPALIVE void velmoraRequestClose() {
    if (!running) return;
    glfwSetWindowShouldClose(running->window, GLFW_TRUE);
    endRun(running);
}
