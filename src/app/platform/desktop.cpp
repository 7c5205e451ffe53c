// The shell on a desktop: GLFW's own monitor and full-screen window, and a plain loop.
#include "app/shell.h"

#include <GLFW/glfw3.h>

const GLFWvidmode* currentVideoMode(GLFWmonitor* monitor) { return glfwGetVideoMode(monitor); }

GLFWwindow* createFullScreenWindow(GLFWmonitor* monitor, const GLFWvidmode& mode, const char* title) {
    return glfwCreateWindow(mode.width, mode.height, title, monitor, nullptr);
}

void showCursor(GLFWwindow* window, bool shown) {
    glfwSetInputMode(window, GLFW_CURSOR, shown ? GLFW_CURSOR_NORMAL : GLFW_CURSOR_HIDDEN);
}

void runFrameLoop(GLFWwindow* window, FrameLoop loop) {
    while (loop.frame(loop.user)) {
        glfwSwapBuffers(window);
        glfwPollEvents();
    }
    loop.finish(loop.user);
}
