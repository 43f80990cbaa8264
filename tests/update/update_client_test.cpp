// The update client against the local test server, row by row from
// tests/data/update/client.json: URL rules, the manifest, check_update and
// download with their failure rows (the destination keeps its old bytes on
// every failure), and a folder written by the release tool served back.
#include "update/update_client.h"

#include <gtest/gtest.h>

#include "support/layout.h"
#include "tests/common/console_capture.h"
#include "tests/common/test_data.h"
#include "tests/common/test_server.h"
#include "update/release_folder.h"

namespace {

using namespace tarncore;
using namespace tarntest;

std::string describe(const ReleaseManifest& m) {
    return m.latest + "|" + m.stable + "|" + m.channel + "|" + m.download_url + "|" +
           m.release_notes_url + "|" + m.docs_url + "|" + m.sha256 + "|" + std::to_string(m.size) +
           "|" + m.signature + "|" + m.minimum_runtime;
}

// name; kind: origin, resolve, manifest, check, download or release (what
// download_runtime shows, the end-to-end scenarios compare);
// in, base: the URLs of origin and resolve; script: the server's; plain: no
// TLS; api: TARNWICK_UPDATE_API (default the server's); manifest: the one
// given; runtime, version, base_url: the release tool's input; tamper: one
// byte of the released runtime changed; blocked: a file where the cache
// folder goes; outcome: a value, the manifest as latest|stable|channel|
// download_url|release_notes_url|docs_url|sha256|size|signature|
// minimum_runtime, or the Error as error_text writes it, then what the
// destination holds (it held "previous"). {base} is the server, {dest} the
// destination, {site} the release folder.
TARN_ROWS(UpdateClientRow, "update/client.json", "rows");
TEST_P(UpdateClientRow, ComesOutAsWritten) {
    auto field = [&](const char* key) { return row.get_string(key, ""); };
    const std::string kind = field("kind");
    TempDir temp;
    TestServer server;
    const Path dest = temp.path() / "cache" / "runtime.bin", site = temp.path() / "site";
    if (row.find("script").kind == JsonKind::Array) {
        ASSERT_TRUE(
            server.start(replace_all(row.find("script").dump(false), "{site}", unix_path(site)),
                         {flag(row, "plain") ? "" : "good"}));
    }
    auto fill = [&](const std::string& text) {
        return replace_all(text, {{"{base}", server.base_url()}, {"{dest}", path_text(dest)}});
    };
    ScopedEnv api("TARNWICK_UPDATE_API",
                  native_from_text(fill(row.get_string("api", "{base}/api/tarnwick/version"))));
    std::string outcome = kind == "origin" ? url_origin(field("in"))
                                           : resolve_manifest_url(field("in"), field("base"));
    Error error;
    ReleaseManifest manifest =
        ReleaseManifest::from_json(Json::parse(fill(row.find("manifest").dump(false)), error));
    if (kind == "manifest") outcome = describe(manifest);
    if (kind == "release") {
        std::string answer, runtime;
        ASSERT_TRUE(write_file(temp.path() / "runtime", field("runtime")));
        ReleaseInput input;
        input.runtime = temp.path() / "runtime";
        input.version = field("version");
        input.base_url = fill(field("base_url"));
        error = write_release_folder(input, site, answer);
        if (flag(row, "tamper") && read_file(site / "releases/1.3.0/tarn.exe", runtime)) {
            ASSERT_TRUE(write_file(site / "releases/1.3.0/tarn.exe", runtime.replace(4, 1, "?")));
        }
    }
    if (kind == "check" || kind == "release") {
        if (error.ok()) error = UpdateClient().check_update(manifest);
        outcome = error.failed() ? error_text(error) : describe(manifest);
    }
    if (kind == "download" || (kind == "release" && error.ok())) {
        ASSERT_TRUE(flag(row, "blocked")
                        ? write_file(dest.parent_path(), "")
                        : ensure_dir(dest.parent_path()) && write_file(dest, "previous"));
        ConsoleCapture quiet;  // the client's log lines
        error = UpdateClient().download(manifest, dest, {});
        // A file failure ends with the system's reason, in its words.
        outcome =
            (error.failed() ? error.code == kErrFile ? tarntest::without_reason(error_text(error))
                                                     : error_text(error)
                            : "ok") +
            " / " + file_bytes(dest);
    }
    EXPECT_EQ(outcome, fill(field("outcome")));
}

}  // namespace
