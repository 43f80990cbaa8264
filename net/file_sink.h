// A download written to disk as it arrives: the blocks go to <name>.part and
// to any further sinks (digests), and the file takes its name only once the
// caller's checks have passed, so a failed download leaves the old file.
#pragma once

#include <cstdint>
#include <fstream>
#include <vector>

#include "net/http.h"
#include "support/system.h"

namespace tarncore {

class FileSink final : public BodySink {
public:
    explicit FileSink(Path destination, std::vector<BodySink*> also = {});
    ~FileSink() override;  // a file not committed is removed
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;

    void restart() override;
    void take(const char* data, std::size_t length) override;
    /// Moves the whole file over the destination (its folder made); false
    /// when the folder, a write or the move failed.
    bool commit();

private:
    bool open();

    Path destination_;
    Path part_;
    std::vector<BodySink*> also_;
    std::ofstream out_;
    bool opened_ = false;
    bool failed_ = false;  // the bytes are still taken by the others
};

}  // namespace tarncore
