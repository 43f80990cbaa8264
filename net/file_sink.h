// A download written to disk as it arrives: the blocks go to the file's
// placement and to any further sinks (digests), and the file takes its name
// only once the caller's checks have passed, so a failed download leaves the
// old file.
#pragma once

#include <vector>

#include "net/http.h"
#include "support/layout.h"

namespace tarncore {

class FileSink final : public BodySink {
public:
    explicit FileSink(Path destination, std::vector<BodySink*> also = {});

    void restart() override;
    void take(const char* data, std::size_t length) override;
    /// Makes the destination's folder and places the whole file there.
    Placement commit();

private:
    Path destination_;
    std::vector<BodySink*> also_;
    FilePlacement file_;
};

}  // namespace tarncore
