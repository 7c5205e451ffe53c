#pragma once
// What differs between the desktop and the browser in the shell: how the display's mode is read,
// how the full-screen window is made, and what drives the frame loop. One file per platform
// (platform/desktop.cpp, platform/web.cpp) defines these.
struct GLFWmonitor;
struct GLFWvidmode;
struct GLFWwindow;

// The monitor's current mode; null when it reports none.
const GLFWvidmode* currentVideoMode(GLFWmonitor* monitor);

// A window filling the monitor at `mode`, with the current window hints; null when it cannot be made.
GLFWwindow* createFullScreenWindow(GLFWmonitor* monitor, const GLFWvidmode& mode, const char* title);

// Hides the cursor over the window while the demo runs, or shows it again.
void showCursor(GLFWwindow* window, bool shown);

// One iteration's work before the buffer swap, and what runs once after the last one.
struct FrameLoop {
    bool (*frame)(void* user);  // false ends the loop; nothing is presented for that iteration
    void (*finish)(void* user);
    void* user;
};

// Calls `frame`, presents and handles events, until `frame` returns false; then calls `finish`.
// On the desktop it returns after `finish`. In a browser, whose frame callback drives the loop,
// it returns at once, and the page hears when the run has finished.
void runFrameLoop(GLFWwindow* window, FrameLoop loop);
