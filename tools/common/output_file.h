// Every file a tool writes goes through here, so that no tool can cost the operator a file: only
// a new name or a regular file is ever written, whole or not at all, and never a file the same
// run reads or writes as something else.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace toolkit {

class RunFiles {
  public:
    // A file the run reads, such as "the configuration file": no output may be it. For "-",
    // whatever standard input is, where it is a file.
    void reads(const std::string& path, std::string_view what);

    // Why `path` may not be written as `what` ("the picture"), or empty when it may; then it is
    // the run's `what`, and no other output may be it. Called before any other work starts, so
    // that a refusal costs nothing. Refused: an empty name, "-", a name ending in a slash, any
    // *.travo, a folder, a named pipe, a socket, a device, a loop of symbolic links, a mount
    // point, a folder that is missing or shut, any file the run reads or writes as something
    // else, and the file its standard input, output or error is.
    std::string claim(const std::string& path, std::string_view what);

    // Writes `bytes` as the whole of `path`, checked as claim() checks it: a new file, or an
    // existing regular file replaced at once (a temporary file in its own folder, then a rename)
    // with its permissions kept; a symbolic link is written through and stays a link. Nothing is
    // left behind on failure. The reason it was refused or failed, else empty.
    std::string write(const std::string& path, std::string_view bytes, std::string_view what);

  private:
    // claim(), telling also where the name leads and whether a file is there.
    std::string check(const std::string& path, std::string_view what, std::filesystem::path& target,
                      bool& exists);

    struct Use {
        std::string path;
        std::string what;
        bool output;
        bool standard_input = false;
    };
    std::vector<Use> uses_;
};

}  // namespace toolkit
