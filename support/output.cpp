#include "support/output.h"

#include <iostream>
#include <mutex>
#include <streambuf>
#include <string>
#include <utility>

#include "support/layout.h"

namespace tarncore {
namespace {

constexpr std::size_t kLogLimit = 1024 * 1024;

class ProcessSink final : public ConsoleSink {
public:
    void write(Stream stream, std::string_view text) override {
        // std::cerr is tied to std::cout, so the two keep their order.
        std::ostream& out = stream == Stream::Out ? std::cout : std::cerr;
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    void flush() override { std::cout.flush(); }
};

// Cuts the file to its last kLogLimit bytes, from a line start on.
void trim_log(const Path& path) {
    std::string text;
    if (!read_regular_file(path, text) || text.size() <= kLogLimit) return;
    std::size_t from = text.find('\n', text.size() - kLogLimit);
    from = from == std::string::npos ? text.size() : from + 1;
    (void)place_bytes(path, std::string_view(text).substr(from));
}

class Output {
public:
    static Output& instance() {
        static Output output;
        return output;
    }

    void write(Stream stream, std::string_view text) {
        std::lock_guard<std::mutex> hold(lock_);
        sink_->write(stream, text);
        for (const char c : text) {
            if (c == '\r') {
                line_.clear();
            } else if (c == '\n') {
                end_line();
            } else {
                line_ += c;
            }
        }
    }

    void flush() {
        std::lock_guard<std::mutex> hold(lock_);
        sink_->flush();
    }

    ConsoleSink* set_sink(ConsoleSink* sink) {
        std::lock_guard<std::mutex> hold(lock_);
        ConsoleSink* old = sink_ == &process_ ? nullptr : sink_;
        sink_ = sink == nullptr ? &process_ : sink;
        return old;
    }

    void open(const Path& path) {
        std::lock_guard<std::mutex> hold(lock_);
        if (path == path_) return;
        path_ = path;
        trim_log(path_);
        keep(std::exchange(pending_, {}));
    }

    void log_line(std::string_view line) {
        std::lock_guard<std::mutex> hold(lock_);
        // A line under way (a prompt, a meter) is cut here, not mixed in.
        if (!line_.empty()) end_line();
        std::string text(line);
        keep(text + '\n');
    }

    void close() {
        std::lock_guard<std::mutex> hold(lock_);
        if (!line_.empty()) end_line();
        if (!path_.empty()) trim_log(path_);
        path_.clear();
    }

private:
    void end_line() {
        line_.erase(line_.find_last_not_of(' ') + 1);
        keep(line_ + '\n');
        line_.clear();
    }

    // One open and close per line: the file is never held, so the uninstall
    // can delete it, and a crash loses no line.
    void keep(const std::string& text) {
        if (!path_.empty()) {
            (void)append_regular_file(path_, text);
            return;
        }
        pending_ += text;
        if (pending_.size() > kLogLimit) pending_.erase(0, pending_.size() - kLogLimit);
    }

    std::mutex lock_;
    ProcessSink process_;
    ConsoleSink* sink_ = &process_;
    std::string line_;
    std::string pending_;
    Path path_;
};

class SinkBuffer final : public std::streambuf {
public:
    explicit SinkBuffer(Stream stream) : stream_(stream) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        Output::instance().write(stream_, std::string_view(&ch, 1));
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        Output::instance().write(stream_, std::string_view(text, static_cast<std::size_t>(count)));
        return count;
    }
    int sync() override {
        Output::instance().flush();
        return 0;
    }

private:
    Stream stream_;
};

}  // namespace

std::ostream& console_out() {
    static SinkBuffer buffer(Stream::Out);
    static std::ostream stream(&buffer);
    return stream;
}

std::ostream& console_err() {
    static SinkBuffer buffer(Stream::Err);
    static std::ostream stream(&buffer);
    return stream;
}

ConsoleSink* set_console_sink(ConsoleSink* sink) {
    return Output::instance().set_sink(sink);
}

void open_log_file(const Path& path) {
    Output::instance().open(path);
}

void write_log_line(std::string_view line) {
    Output::instance().log_line(line);
}

void close_log_file() {
    Output::instance().close();
}

}  // namespace tarncore
