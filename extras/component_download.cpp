#include "extras/component_download.h"

#include "extras/extras.h"
#include "net/file_sink.h"
#include "net/http_client.h"
#include "support/clock.h"
#include "support/layout.h"
#include "support/logger.h"
#include "update/sha256.h"

namespace tarncore::discordvoice {

Error download_file(const std::string& url, const Path& destination, platform::DownloadMeter& meter,
                    const BodyCheck& check) {
    HttpRequest request;
    request.url = url;
    request.timeout_ms = 600000;  // large files over slow links
    request.headers = {{"User-Agent", std::string("Tarnwick-Setup/") + kModuleVersion},
                       {"Accept", "*/*"}};
    request.progress = [&meter](std::int64_t received, std::int64_t total) {
        meter.update(received, total);
    };
    Sha256Sink digest;
    FileSink file(destination, {&digest});
    request.sink = &file;
    Error error;
    const std::int64_t start = steady_ms();
    const HttpResponse response = HttpClient::execute(request, error);
    log_request(request.method, url, response.status, steady_ms() - start, error.message);
    if (error.failed()) return error;
    if (response.status != 200) {
        return extras_error(kErrHttp, "Download failed with HTTP " +
                                          std::to_string(response.status) + " from " + url);
    }
    const std::int64_t size = body_length(response);
    if (size < 1024) {
        return extras_error(kErrHttp, "Download from " + url + " was too small");
    }
    meter.update(size, size);
    if (check) TARN_TRY(check(digest.hex()));
    const Placement placed = file.commit();
    if (!placed.ok()) {
        return with_placement(extras_error(kErrFile, "Could not write " + path_text(destination)),
                              destination, placed);
    }
    return {};
}

}  // namespace tarncore::discordvoice
