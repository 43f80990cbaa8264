#include "net/file_sink.h"

#include "support/layout.h"

namespace tarncore {

FileSink::FileSink(Path destination, std::vector<BodySink*> also)
    : destination_(std::move(destination)), also_(std::move(also)) {
    part_ = destination_;
    part_ += ".part";
}

FileSink::~FileSink() {
    if (!opened_) return;
    out_.close();
    (void)delete_file(part_);
}

bool FileSink::open() {
    if (opened_ || failed_) return opened_;
    const Path folder = destination_.parent_path();
    if (!folder.empty() && !ensure_dir(folder)) {
        failed_ = true;
        return false;
    }
    out_.open(part_, std::ios::binary | std::ios::trunc);
    opened_ = out_.is_open();
    failed_ = !opened_;
    return opened_;
}

void FileSink::restart() {
    for (BodySink* sink : also_) sink->restart();
    if (!opened_) return;
    // Whatever an earlier attempt wrote is dropped; a failed write stays failed.
    out_.close();
    out_.open(part_, std::ios::binary | std::ios::trunc);
    failed_ = failed_ || !out_.is_open();
}

void FileSink::take(const char* data, std::size_t length) {
    for (BodySink* sink : also_) sink->take(data, length);
    if (!open()) return;
    out_.write(data, static_cast<std::streamsize>(length));
    failed_ = failed_ || !out_;
}

bool FileSink::commit() {
    if (!open()) return false;
    out_.close();
    if (failed_ || out_.fail()) return false;
    opened_ = false;
    if (move_file(part_, destination_, kMoveReplaceExisting)) return true;
    (void)delete_file(part_);
    return false;
}

}  // namespace tarncore
