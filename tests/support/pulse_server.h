#pragma once
// A PulseAudio daemon of the test's own, on private paths under a temporary directory, and what
// it says about the streams that play into it.
#include "temp_dir.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmora::test {

// What the server reports for the one stream playing into it: the latency that stands between
// what the client has written and what the sink is playing (the stream's buffer in the server plus
// the sink's own latency), in seconds; negative if there is not exactly one stream.
class ServerAccount {
public:
    explicit ServerAccount(const std::string& address) {
        loop_ = pa_mainloop_new();
        context_ = pa_context_new(pa_mainloop_get_api(loop_), "velmora-test-account");
        if (pa_context_connect(context_, address.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return;
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY) {
                ready_ = true;
                return;
            }
            if (!PA_CONTEXT_IS_GOOD(state) || pa_mainloop_iterate(loop_, 1, nullptr) < 0) return;
        }
    }
    ~ServerAccount() {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        pa_mainloop_free(loop_);
    }
    ServerAccount(const ServerAccount&) = delete;
    ServerAccount& operator=(const ServerAccount&) = delete;

    bool ready() const { return ready_; }

    double streamLatency() {
        Query q;
        pa_operation* op = pa_context_get_sink_input_info_list(context_, onSinkInput, &q);
        if (!op) return -1;
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING)
            if (pa_mainloop_iterate(loop_, 1, nullptr) < 0) break;
        pa_operation_unref(op);
        return q.count == 1 ? q.seconds : -1;
    }

    // The name of the sink of the one stream, for the case that checks where it plays.
    std::string streamSink() {
        std::string name;
        uint32_t index = PA_INVALID_INDEX;
        Query q;
        q.sink = &index;
        pa_operation* op = pa_context_get_sink_input_info_list(context_, onSinkInput, &q);
        if (!op) return name;
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING && pa_mainloop_iterate(loop_, 1, nullptr) >= 0) {}
        pa_operation_unref(op);
        if (q.count != 1) return name;
        op = pa_context_get_sink_info_by_index(context_, index, onSink, &name);
        if (!op) return name;
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING && pa_mainloop_iterate(loop_, 1, nullptr) >= 0) {}
        pa_operation_unref(op);
        return name;
    }

private:
    struct Query {
        int count = 0;
        double seconds = 0;
        uint32_t* sink = nullptr;
    };
    static void onSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* user) {
        if (eol || !info) return;
        Query* q = static_cast<Query*>(user);
        ++q->count;
        q->seconds = static_cast<double>(info->buffer_usec + info->sink_usec) / 1e6;
        if (q->sink) *q->sink = info->sink;
    }
    static void onSink(pa_context*, const pa_sink_info* info, int eol, void* user) {
        if (!eol && info) *static_cast<std::string*>(user) = info->name;
    }

    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    bool ready_ = false;
};

class PulseServer {
public:
    // A null sink, or whatever `modules` (module arguments lines, each loaded) make of it.
    explicit PulseServer(std::vector<std::string> modules = {"module-null-sink"}) {
        if (dir_.path().empty()) return;
        const std::string socket = dir_ / "native";
        modules.push_back("module-native-protocol-unix socket=" + socket + " auth-anonymous=1");
        pid_ = fork();
        if (pid_ == 0) {
            setenv("XDG_RUNTIME_DIR", dir_.path().c_str(), 1);
            setenv("PULSE_RUNTIME_PATH", dir_.path().c_str(), 1);
            setenv("PULSE_STATE_PATH", dir_.path().c_str(), 1);
            unsetenv("PULSE_SERVER");
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            std::vector<std::string> args = {"pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1",
                                             "--disallow-exit", "--use-pid-file=no"};
            for (const std::string& m : modules) args.push_back("--load=" + m);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp("pulseaudio", argv.data());
            _exit(127);
        }
        // Up once a client can connect to it.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < limit && alive()) {
            if (reachable()) {
                address_ = "unix:" + socket;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill();
    }
    ~PulseServer() { kill(); }
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // "unix:PATH", or empty if it did not come up.
    const std::string& address() const { return address_; }
    const std::filesystem::path& dir() const { return dir_.path(); }

    // Ends it at once, as a crash would.
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

private:
    bool alive() { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
    bool reachable() {
        struct stat st;
        if (stat((dir_ / "native").c_str(), &st) != 0) return false;
        return ServerAccount("unix:" + dir_ / "native").ready();
    }

    TempDir dir_{"velmora-pulse"};
    pid_t pid_ = -1;
    std::string address_;
};

}  // namespace velmora::test
