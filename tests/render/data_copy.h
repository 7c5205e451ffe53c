#pragma once
// A copy of the run directory's data whose shader files can be replaced; the process works inside
// it while the object lives.
#include "gl_context.h"
#include "platform.h"
#include "temp_dir.h"

#include <filesystem>
#include <string>

namespace velmora::test {

class DataCopy {
public:
    DataCopy() : old_(std::filesystem::current_path()) {
        namespace fs = std::filesystem;
        fs::create_directories(dir_ / "data");
        shareDirectory(old_ / "data" / "walk", dir_ / "data" / "walk");
        shareDirectory(old_ / "data" / "textures", dir_ / "data" / "textures");
        fs::copy(old_ / "data" / "shaders", dir_ / "data" / "shaders");
        fs::current_path(dir_);
    }
    ~DataCopy() { std::filesystem::current_path(old_); }
    DataCopy(const DataCopy&) = delete;
    DataCopy& operator=(const DataCopy&) = delete;

    void replaceShader(const std::string& name, const std::string& text) {
        writeFile((dir_ / "data" / "shaders" / name).string(), text);
    }
    std::filesystem::path shaders() const { return dir_ / "data" / "shaders"; }

private:
    std::filesystem::path old_;
    TempDir tmp_{"velmora-render"};
    std::filesystem::path dir_ = tmp_.path();
};

}  // namespace velmora::test
