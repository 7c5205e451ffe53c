#include "platform.h"

#include <cstdlib>
#include <filesystem>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <random>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace velmora::test {

#ifdef _WIN32
namespace {
// Windows has no mkdtemp or mkstemp: try random names until one is new.
bool fillPattern(std::string& pattern, std::mt19937_64& rng) {
    if (pattern.size() < 6 || pattern.compare(pattern.size() - 6, 6, "XXXXXX") != 0) return false;
    const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (size_t i = pattern.size() - 6; i < pattern.size(); ++i) pattern[i] = digits[rng() % 36];
    return true;
}
std::mt19937_64& randomNames() {
    static std::mt19937_64 rng{std::random_device{}()};
    return rng;
}
}  // namespace

bool makeTempDir(std::string& pattern) {
    const std::string base = pattern;
    for (int tries = 0; tries < 100; ++tries) {
        pattern = base;
        if (!fillPattern(pattern, randomNames())) return false;
        std::error_code e;
        if (std::filesystem::create_directory(pattern, e)) return true;
    }
    return false;
}

int makeTempFile() {
    const std::string base = (std::filesystem::temp_directory_path() / "velmora-out-XXXXXX").string();
    for (int tries = 0; tries < 100; ++tries) {
        std::string name = base;
        fillPattern(name, randomNames());
        const int fd = _open(name.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY,
                             _S_IREAD | _S_IWRITE);
        if (fd >= 0) return fd;
    }
    return -1;
}

void shareDirectory(const std::filesystem::path& from, const std::filesystem::path& to) {
    namespace fs = std::filesystem;
    fs::create_directories(to);
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(from)) {
        const fs::path target = to / fs::relative(e.path(), from);
        std::error_code linked;
        if (e.is_directory())
            fs::create_directories(target);
        else if (fs::create_hard_link(e.path(), target, linked); linked)
            fs::copy_file(e.path(), target);
    }
}

void setEnv(const char* name, const char* value) { _putenv_s(name, value); }
void unsetEnv(const char* name) { _putenv_s(name, ""); }
#else
bool makeTempDir(std::string& pattern) { return mkdtemp(pattern.data()) != nullptr; }

int makeTempFile() {
    std::string name = (std::filesystem::temp_directory_path() / "velmora-out-XXXXXX").string();
    const int fd = mkstemp(name.data());
    if (fd >= 0) unlink(name.c_str());
    return fd;
}

void shareDirectory(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::filesystem::create_directory_symlink(from, to);
}

void setEnv(const char* name, const char* value) { setenv(name, value, 1); }
void unsetEnv(const char* name) { unsetenv(name); }
#endif

}  // namespace velmora::test
