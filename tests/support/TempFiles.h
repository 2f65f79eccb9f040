// A temporary directory for files a test writes, removed at the end, and
// whole files read and written as raw bytes.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kest-test-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path_ = pattern;
        else
            ADD_FAILURE() << "no temporary directory";
    }
    ~TempDir() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string file(const std::string& name) const {
        return (std::filesystem::path(path_) / name).string();
    }

private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
