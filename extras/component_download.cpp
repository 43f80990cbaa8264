#include "extras/component_download.h"

#include "extras/extras.h"
#include "net/http_client.h"
#include "support/layout.h"

namespace tarncore::discordvoice {

Error download_file(const std::string& url, const Path& destination,
                    platform::DownloadMeter& meter) {
    HttpRequest request;
    request.url = url;
    request.timeout_ms = 600000;  // large files over slow links
    request.headers = {{"User-Agent", std::string("Tarnwick-Setup/") + kModuleVersion},
                       {"Accept", "*/*"}};
    request.progress = [&meter](std::int64_t received, std::int64_t total) {
        meter.update(received, total);
    };
    Error error;
    const HttpResponse response = HttpClient::execute(request, error);
    if (error.failed()) return error;
    if (response.status != 200) {
        return extras_error(kErrHttp, "Download failed with HTTP " +
                                          std::to_string(response.status) + " from " + url);
    }
    if (response.body.size() < 1024) {
        return extras_error(kErrHttp, "Download from " + url + " was too small");
    }
    const auto size = static_cast<std::int64_t>(response.body.size());
    meter.update(size, size);
    (void)ensure_dir(destination.parent_path());
    const Placement placed = place_bytes(destination, response.body);
    if (!placed.ok()) {
        return extras_error(kErrFile, "Could not write " + placement_detail(destination, placed));
    }
    return {};
}

}  // namespace tarncore::discordvoice
