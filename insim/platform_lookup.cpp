#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "insim/platform.h"

namespace platform {

LookupResult lookup_on_own_thread(Platform& blocking, const char* host, std::uint32_t* address_be,
                                  long milliseconds) {
    struct Answer {
        std::mutex mutex;
        std::condition_variable came;
        bool done = false;
        bool found = false;
        std::uint32_t address = 0;
    };
    // gethostbyname keeps its answer in one static place: one lookup at a time, the one still
    // running after its wait included. Never destroyed, as a lookup may outlive main.
    static std::mutex& one_at_a_time = *new std::mutex;
    const auto answer = std::make_shared<Answer>();
    try {
        std::thread([answer, &blocking, name = std::string(host)] {
            std::uint32_t address = 0;
            bool found = false;
            {
                const std::lock_guard<std::mutex> turn(one_at_a_time);
                found = blocking.lookup_ipv4(name.c_str(), &address);
            }
            const std::lock_guard<std::mutex> lock(answer->mutex);
            answer->done = true;
            answer->found = found;
            answer->address = address;
            answer->came.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the lookup as travo makes it, without a limit.
        const std::lock_guard<std::mutex> turn(one_at_a_time);
        return blocking.lookup_ipv4(host, address_be) ? LookupResult::kFound
                                                      : LookupResult::kNotFound;
    }
    std::unique_lock<std::mutex> lock(answer->mutex);
    if (!answer->came.wait_for(lock, std::chrono::milliseconds(milliseconds),
                               [&] { return answer->done; }))
        return LookupResult::kNoAnswer;
    if (!answer->found) return LookupResult::kNotFound;
    *address_be = answer->address;
    return LookupResult::kFound;
}

}  // namespace platform
