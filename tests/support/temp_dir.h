#pragma once
// A directory of this run's own, made with mkdtemp (two runs at once never share one) and
// removed with everything in it when the object goes.
#include "platform.h"

#include <filesystem>
#include <string>
#include <system_error>

namespace velmora::test {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "velmora") {
        std::string name = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (makeTempDir(name)) path_ = name;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace velmora::test
