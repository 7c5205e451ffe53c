// Entry point: the window, the music and the frame loop driven by the music's position.
#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <cstdio>

#include "assets/paths.h"
#include "audio/audio.h"
#include "render/demo.h"

namespace {

constexpr double kEndSeconds = 185.0;
constexpr int kAudioDevice = -1;  // the system's default output
constexpr int kAudioFrequency = 48000;
constexpr const char* kTitle = "Velmora";
constexpr const char* kSoundtrack = VELMORA_DATA "dunesong.mp3";

void keyCallback(GLFWwindow* window, int key, int /*scancode*/, int action, int /*mods*/) {
    if (key == GLFW_KEY_ESCAPE && action == GLFW_PRESS) glfwSetWindowShouldClose(window, GLFW_TRUE);
}

// The window at the primary monitor's current mode, or null with the reason on stderr.
GLFWwindow* openWindow(bool glfwReady, const GLFWvidmode*& mode) {
    mode = nullptr;
    if (!glfwReady) {
        std::fprintf(stderr, "velmora: the window system could not be initialised\n");
        return nullptr;
    }
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    if (!monitor) {
        std::fprintf(stderr, "velmora: no primary monitor\n");
        return nullptr;
    }
    mode = glfwGetVideoMode(monitor);
    if (!mode) {
        std::fprintf(stderr, "velmora: the primary monitor reports no video mode\n");
        return nullptr;
    }
    glfwWindowHint(GLFW_RED_BITS, mode->redBits);
    glfwWindowHint(GLFW_BLUE_BITS, mode->blueBits);
    glfwWindowHint(GLFW_GREEN_BITS, mode->greenBits);
    glfwWindowHint(GLFW_REFRESH_RATE, mode->refreshRate);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    GLFWwindow* window = glfwCreateWindow(mode->width, mode->height, kTitle, monitor, nullptr);
    if (!window) std::fprintf(stderr, "velmora: the full-screen window could not be created\n");
    return window;
}

}  // namespace

int main() {
    glewExperimental = GL_TRUE;
    const bool glfwReady = glfwInit() == GLFW_TRUE;
    Audio* audio = audioInit(kAudioDevice, kAudioFrequency);

    const GLFWvidmode* mode = nullptr;
    GLFWwindow* window = openWindow(glfwReady, mode);
    if (window) {
        glfwSetInputMode(window, GLFW_CURSOR, GLFW_CURSOR_HIDDEN);
        glfwMakeContextCurrent(window);
        glfwSetKeyCallback(window, keyCallback);
        glewInit();

        Demo* demo = new Demo(mode->width, mode->height);
        // An empty Demo (no GL) cannot draw: end the run before the music starts.
        if (demo->ready()) {
            AudioStream stream = audioStreamCreateFile(audio, kSoundtrack);
            audioChannelPlay(audio, stream, false);
            while (!glfwWindowShouldClose(window)) {
                const double seconds =
                    audioChannelBytes2Seconds(audio, stream, audioChannelGetPosition(audio, stream));
                if (seconds > kEndSeconds) break;
                demo->render(seconds);
                glfwSwapBuffers(window);
                glfwPollEvents();
            }
        }
        glfwSetInputMode(window, GLFW_CURSOR, GLFW_CURSOR_NORMAL);
        delete demo;
    }
    audioFree(audio);
    glfwDestroyWindow(window);
    glfwTerminate();
    return 0;
}
