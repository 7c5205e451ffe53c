// Entry point: the window, the music and the frame loop driven by the music's position.
#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include <cstdio>

#include "app/shell.h"
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
    mode = currentVideoMode(monitor);
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
    GLFWwindow* window = createFullScreenWindow(monitor, *mode, kTitle);
    if (!window) std::fprintf(stderr, "velmora: the full-screen window could not be created\n");
    return window;
}

// What main owns for the run, from start-up to shutdown.
struct Run {
    Audio* audio = nullptr;
    GLFWwindow* window = nullptr;
    Demo* demo = nullptr;
    AudioStream stream = 0;
};

// One iteration up to the buffer swap: the close flag, the clock, the end test, the frame.
bool frame(void* user) {
    Run& run = *static_cast<Run*>(user);
    if (glfwWindowShouldClose(run.window)) return false;
    const double seconds =
        audioChannelBytes2Seconds(run.audio, run.stream, audioChannelGetPosition(run.audio, run.stream));
    if (seconds > kEndSeconds) return false;
    run.demo->render(seconds);
    return true;
}

void shutdown(void* user) {
    Run* run = static_cast<Run*>(user);
    if (run->window) {
        showCursor(run->window, true);
        delete run->demo;
    }
    audioFree(run->audio);
    glfwDestroyWindow(run->window);
    glfwTerminate();
    delete run;
}

}  // namespace

int main() {
    glewExperimental = GL_TRUE;
    const bool glfwReady = glfwInit() == GLFW_TRUE;
    Run* run = new Run;
    run->audio = audioInit(kAudioDevice, kAudioFrequency);

    const GLFWvidmode* mode = nullptr;
    run->window = openWindow(glfwReady, mode);
    if (run->window) {
        showCursor(run->window, false);
        glfwMakeContextCurrent(run->window);
        glfwSetKeyCallback(run->window, keyCallback);
        glewInit();

        velmora::resetWalkers();
        run->demo = new Demo(mode->width, mode->height);
        // An empty Demo (no GL) cannot draw: end the run before the music starts.
        if (run->demo->ready()) {
            run->stream = audioStreamCreateFile(run->audio, kSoundtrack);
            audioChannelPlay(run->audio, run->stream, false);
            runFrameLoop(run->window, FrameLoop{frame, shutdown, run});
            return 0;
        }
    }
    shutdown(run);
    return 0;
}
