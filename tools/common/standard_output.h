// Standard output that notices when what a tool writes does not arrive.
#pragma once

#include "tools/common/escape.h"
#include "tools/common/messages.h"

#include <memory>

namespace toolkit {

// While it lives, std::cout writes through a buffer that watches every write: the first failure
// is said once on standard error, later output is dropped, and status() tells the exit status.
// A reader that stops reading early (`| head`, a broken pipe) is no failure: the tool's work
// was done. Standard input, output and error that were closed when the tool started are held
// open for reading (output and error on /dev/null, input on an empty pipe of its own), so that no
// file or socket the tool opens takes their place and a write there fails as it should.
class StandardOutput {
  public:
    explicit StandardOutput(const Tool& tool);
    ~StandardOutput();
    StandardOutput(const StandardOutput&) = delete;
    StandardOutput& operator=(const StandardOutput&) = delete;

    // Flushes; `status`, or kOutputLostStatus when standard output failed.
    int status(int status);

  private:
    class Buffer;
    std::unique_ptr<Buffer> buffer_;
    std::streambuf* previous_;
};

// The letters whoever reads standard output sees: UTF-8 where the locale's character set is
// UTF-8, the console's code page on Windows; none otherwise (the C locale), so that every byte
// beyond ASCII shows as \xNN. For show_letters.
Letters terminal_letters();
// Whether standard input was closed when the StandardOutput started: it reads as empty since,
// which a tool must not take for an empty file.
bool standard_input_closed();

}  // namespace toolkit
