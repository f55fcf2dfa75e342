#pragma once
// Writes fuzz inputs to files in a private temporary directory, removed when the process ends.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

class FuzzDir {
public:
    FuzzDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quor_fuzz_XXXXXX").string();
        if (mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
    }
    ~FuzzDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    FuzzDir(const FuzzDir&) = delete;
    FuzzDir& operator=(const FuzzDir&) = delete;

    std::string write(const std::string& name, const uint8_t* data, size_t size) const {
        const std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        return p;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// One directory for the whole run; the harness functions have no other state.
inline const FuzzDir& fuzz_dir() {
    static const FuzzDir dir;
    return dir;
}
