#include "net/file_sink.h"

namespace tarncore {

FileSink::FileSink(Path destination, std::vector<BodySink*> also)
    : destination_(std::move(destination)), also_(std::move(also)), file_(destination_) {
    const Path folder = destination_.parent_path();
    if (!folder.empty()) (void)ensure_dir(folder);
}

void FileSink::restart() {
    for (BodySink* sink : also_) sink->restart();
    file_.restart();
}

void FileSink::take(const char* data, std::size_t length) {
    for (BodySink* sink : also_) sink->take(data, length);
    // A failed write is reported by commit; the others still see every byte.
    (void)file_.write(std::string_view(data, length));
}

Placement FileSink::commit() {
    return file_.commit();
}

}  // namespace tarncore
