// A fresh folder under the system's temporary folder, removed with everything in it on
// destruction; for tests that run on Windows too (TempDir in process.h is POSIX).
#pragma once

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace testsupport {

class Folder {
  public:
    Folder() : path_(fresh_path()) { std::filesystem::create_directories(path_); }
    ~Folder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    // The names in the folder, sorted.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

  private:
    static std::filesystem::path fresh_path() {
        std::random_device random;
        return std::filesystem::temp_directory_path() /
               ("travo-test-" + std::to_string(random()) + "-" + std::to_string(random()));
    }

    std::filesystem::path path_;
};

}  // namespace testsupport
