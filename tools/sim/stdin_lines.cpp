#include "tools/sim/stdin_lines.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

namespace sim {

namespace {

// Lines read ahead; a faster writer waits.
constexpr std::size_t kQueuedLines = 256;

}  // namespace

// The queue belongs to the thread as much as to the reader: a thread stuck in a read outlives
// the run, and must find its queue still there.
struct StdinLines::Shared {
    std::mutex mutex;
    std::condition_variable room;
    std::deque<Line> lines;
    bool ended = false;
    std::string failure;  // why standard input could not be read, once it ended so
    bool closed = false;
};

StdinLines::StdinLines() : shared_(std::make_shared<Shared>()) {
    // A read of std::cin flushes what it is tied to, std::cout, which the other thread writes:
    // untied, the reading thread never touches standard output.
    std::cin.tie(nullptr);
    std::thread([shared = shared_] {
        std::string text;
        for (;;) {
            errno = 0;
            const simscript::LineRead kind = simscript::read_line(std::cin, &text);
            const int error = errno;
            std::unique_lock<std::mutex> hold(shared->mutex);
            if (kind == simscript::LineRead::kEnd) {
                // A stream that cannot be read (a directory, a descriptor open for writing) is
                // no end of the commands.
                if (std::cin.bad())
                    shared->failure = error != 0 ? std::strerror(error) : "the read failed";
                shared->ended = true;
                return;
            }
            shared->room.wait(
                hold, [&] { return shared->closed || shared->lines.size() < kQueuedLines; });
            if (shared->closed) return;
            shared->lines.push_back({kind, text});
        }
    }).detach();
}

StdinLines::~StdinLines() {
    {
        std::lock_guard<std::mutex> hold(shared_->mutex);
        shared_->closed = true;
    }
    shared_->room.notify_all();
}

std::optional<StdinLines::Line> StdinLines::poll(bool* ended) {
    std::lock_guard<std::mutex> hold(shared_->mutex);
    if (!shared_->lines.empty()) {
        Line l = std::move(shared_->lines.front());
        shared_->lines.pop_front();
        shared_->room.notify_one();
        return l;
    }
    *ended = shared_->ended;
    return std::nullopt;
}

std::string StdinLines::failure() const {
    std::lock_guard<std::mutex> hold(shared_->mutex);
    return shared_->failure;
}

}  // namespace sim
