#include "tools/sim/printer.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

#include "tools/sim/settings.h"

namespace sim {

struct Printer::Shared {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::string> waiting;
    std::size_t bytes = 0;  // in `waiting`
    long dropped = 0;       // lines, not said yet
    bool closing = false;
    std::thread writer;

    // Under the mutex.
    void queue(std::string text) {
        bytes += text.size();
        waiting.push_back(std::move(text));
        ready.notify_one();
    }
    void say_dropped() {
        queue(kTool.line(std::to_string(dropped) +
                         " lines were not shown: standard output was not read in time") +
              "\n");
        dropped = 0;
    }

    void write_all() {
        std::unique_lock<std::mutex> hold(mutex);
        for (;;) {
            ready.wait(hold, [this] { return closing || !waiting.empty(); });
            if (waiting.empty()) return;
            std::string text = std::move(waiting.front());
            waiting.pop_front();
            hold.unlock();
            // The only thread that writes standard output while the host runs.
            std::cout << text << std::flush;
            hold.lock();
            bytes -= text.size();
        }
    }
};

Printer::Printer() : shared_(std::make_unique<Shared>()) {
    std::cout.flush();
    shared_->writer = std::thread([s = shared_.get()] { s->write_all(); });
}

Printer::~Printer() {
    {
        std::lock_guard<std::mutex> hold(shared_->mutex);
        shared_->closing = true;
        if (shared_->dropped > 0) shared_->say_dropped();
        shared_->ready.notify_one();
    }
    shared_->writer.join();
}

void Printer::last(std::string line) {
    std::lock_guard<std::mutex> hold(shared_->mutex);
    if (shared_->dropped > 0) shared_->say_dropped();
    shared_->queue(std::move(line));
}

void Printer::put(std::string lines) {
    std::lock_guard<std::mutex> hold(shared_->mutex);
    if (shared_->bytes + lines.size() > kLimit) {
        shared_->dropped += std::count(lines.begin(), lines.end(), '\n');
        return;
    }
    // Once the reader has caught up with half of what waited, the loss is said before more.
    if (shared_->dropped > 0 && shared_->bytes < kLimit / 2) shared_->say_dropped();
    shared_->queue(std::move(lines));
}

}  // namespace sim
