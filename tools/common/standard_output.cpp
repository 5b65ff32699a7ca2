#include "tools/common/standard_output.h"

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <langinfo.h>
#include <poll.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#endif

#include <cerrno>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <string>

namespace toolkit {

class StandardOutput::Buffer : public std::streambuf {
  public:
    explicit Buffer(const Tool& tool) : tool_(tool) { setp(data_, data_ + sizeof data_); }

    bool failed() const { return error_ != 0 && error_ != EPIPE; }

    void drain() {
        const char* p = pbase();
        std::size_t left = static_cast<std::size_t>(pptr() - pbase());
        setp(data_, data_ + sizeof data_);
        while (left > 0 && error_ == 0) {
#ifdef _WIN32
            const int n = ::_write(1, p, static_cast<unsigned>(left));
#else
            const ssize_t n = ::write(1, p, left);
            if (n < 0 && errno == EAGAIN) {
                // Standard output left non-blocking by whoever shares it: wait for room.
                pollfd ready{1, POLLOUT, 0};
                (void)::poll(&ready, 1, -1);
                continue;
            }
#endif
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                fail(n < 0 ? errno : EIO);
                break;
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }

  protected:
    // Nothing is ever refused to the stream: a failure is kept here, and the tool goes on.
    int_type overflow(int_type c) override {
        drain();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override {
        drain();
        return 0;
    }

  private:
    void fail(int error) {
        error_ = error;
        if (error == EPIPE) return;
        tool_.complain(error == EBADF ? std::string("standard output is closed")
                                      : "cannot write to standard output: " +
                                            std::string(std::strerror(error)));
    }

    const Tool& tool_;
    int error_ = 0;
    char data_[4096];
};

namespace {

bool input_closed = false;

#ifndef _WIN32
// A descriptor that reads as empty: for standard input, a pipe nobody writes to, which no name
// but the run's own standard input leads to (/dev/null may be named on purpose).
int empty_reader(int fd) {
    if (fd != 0) return ::open("/dev/null", O_RDONLY);
    int ends[2];
    if (::pipe(ends) != 0) return -1;
    ::close(ends[1]);
    return ends[0];
}
#endif

}  // namespace

bool standard_input_closed() {
    return input_closed;
}

StandardOutput::StandardOutput(const Tool& tool) : buffer_(std::make_unique<Buffer>(tool)) {
#ifndef _WIN32
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        if (fd == 0) input_closed = true;
        const int reader = empty_reader(fd);
        if (reader >= 0 && reader != fd) {
            ::dup2(reader, fd);
            ::close(reader);
        }
    }
    // A reader that went away shows as EPIPE on the write instead of ending the tool.
    (void)std::signal(SIGPIPE, SIG_IGN);
#endif
    std::cout.flush();
    previous_ = std::cout.rdbuf(buffer_.get());
}

StandardOutput::~StandardOutput() {
    buffer_->drain();
    std::cout.rdbuf(previous_);
}

int StandardOutput::status(int status) {
    buffer_->drain();
    return buffer_->failed() ? kOutputLostStatus : status;
}

Letters terminal_letters() {
#ifdef _WIN32
    // 0: no console at all, as under a task; its output is then read as bytes.
    const UINT page = ::GetConsoleOutputCP();
    if (page == 0) return {};
    if (page == CP_UTF8) return utf8_letters();
    return letters_from([page](char32_t cp) -> std::string {
        const wchar_t wide = static_cast<wchar_t>(cp);  // Windows-1252 stays in 16 bits
        char out[8];
        BOOL lost = FALSE;
        const int n = ::WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, &wide, 1, out, sizeof out,
                                            nullptr, &lost);
        return n > 0 && !lost ? std::string(out, static_cast<std::size_t>(n)) : std::string();
    });
#else
    // Only the character set is asked for, and the "C" of everything else is left alone:
    // numbers keep their '.' whatever the locale.
    const char* before = std::setlocale(LC_CTYPE, nullptr);
    const std::string kept = before != nullptr ? before : "C";
    const bool utf8 = std::setlocale(LC_CTYPE, "") != nullptr &&
                      std::strcmp(::nl_langinfo(CODESET), "UTF-8") == 0;
    (void)std::setlocale(LC_CTYPE, kept.c_str());
    return utf8 ? utf8_letters() : Letters{};
#endif
}

}  // namespace toolkit
