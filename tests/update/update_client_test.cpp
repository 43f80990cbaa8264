// The update client against the local test server, row by row from
// tests/data/update/client.json: URL rules, the manifest, check_update and
// download with their failure rows (the destination keeps its old bytes on
// every failure), and a folder written by the release tool served back.
#include "update/update_client.h"

#include <gtest/gtest.h>

#include "support/layout.h"
#include "tests/common/console_capture.h"
#include "tests/common/error_text.h"
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

TEST(UpdateClient, Rows) {
    const Json table = load_test_data("update/client.json");
    for (const Json& row : items(table.find("rows"))) {
        auto field = [&](const char* key) { return row.get_string(key, ""); };
        auto flag = [&](const char* key) { return row.find(key).kind == JsonKind::Bool; };
        const std::string kind = field("kind");
        SCOPED_TRACE(field("name"));
        TempDir temp;
        TestServer server;
        if (row.find("script").kind == JsonKind::Array) {
            ASSERT_TRUE(server.start(row.find("script").dump(false),
                                     {flag("plain") ? ServerCert::None : ServerCert::Good}));
        }
        const Path dest = temp.path() / "cache" / "runtime.bin",
                   served = server.folder() / "site/releases/1.3.0/tarn.exe";
        auto fill = [&](std::string text) {
            for (std::size_t at; (at = text.find("{base}")) != std::string::npos;)
                text.replace(at, 6, server.base_url());
            for (std::size_t at; (at = text.find("{dest}")) != std::string::npos;)
                text.replace(at, 6, path_text(dest));
            return text;
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
            error = write_release_folder(
                {temp.path() / "runtime", field("version"), fill(field("base_url")), "", {}, {}},
                server.folder() / "site", answer);
            if (flag("tamper") && read_file(served, runtime)) {
                ASSERT_TRUE(write_file(served, runtime.replace(4, 1, "?")));
            }
        }
        if (kind == "check" || kind == "release") {
            if (error.ok()) error = UpdateClient().check_update(manifest);
            outcome = error.failed() ? error_text(error) : describe(manifest);
        }
        if (kind == "download" || kind == "runtime" || (kind == "release" && error.ok())) {
            ASSERT_TRUE(flag("blocked")
                            ? write_file(dest.parent_path(), "")
                            : ensure_dir(dest.parent_path()) && write_file(dest, "previous"));
            CapturedConsole console;
            error = kind == "runtime" ? download_runtime(UpdateClient(), manifest, dest)
                                      : UpdateClient().download(manifest, dest, {});
            std::string written = "<none>";
            (void)read_file(dest, written);
            outcome = (error.failed() ? error_text(error) : "ok") + " / " + written;
            if (kind == "runtime") outcome += " / " + console.out.str();
        }
        EXPECT_EQ(outcome, fill(field("outcome")));
    }
}

}  // namespace
