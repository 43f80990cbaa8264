// The update layer: SHA-256 by each compression path against digests made by
// an independent implementation (scripts/make_sha256_vectors.py); the release
// signature: SHA-512 and BLAKE2b (as minisign uses it: unkeyed, 64 bytes)
// against hashlib and RFC 7693's example, Ed25519 against RFC 8032 and the
// encodings a strict verifier refuses, and downloads signed at test time by
// the real minisign tool; the update client against the local test server;
// the winget manifests.
#include <gtest/gtest.h>

#include <map>

#include "support/layout.h"
#include "tests/common/console_capture.h"
#include "tests/common/install_sandbox.h"
#include "tests/common/test_data.h"
#include "tests/common/test_server.h"
#include "update/blake2b.h"
#include "update/ed25519.h"
#include "update/release_folder.h"
#include "update/release_signature.h"
#include "update/sha256.h"
#include "update/sha512.h"
#include "update/update_client.h"
#include "update/winget_manifests.h"

namespace {

using namespace tarncore;
using namespace tarntest;

// The extensions path only where the CPU has it.
std::vector<Sha256Path> paths() {
    if (!sha256_path_available(Sha256Path::Extensions)) return {Sha256Path::Portable};
    return {Sha256Path::Portable, Sha256Path::Extensions};
}

// One test per set of make_sha256_vectors.py (its note says what each row
// holds); name: the set; rows: [set, message..., digest].
TARN_ROWS_OF(Sha256Vectors,
             kind_groups("update/sha256_vectors.json", {"hex", "text", "repeat", "lcg"}));
TEST_P(Sha256Vectors, MatchAnIndependentImplementation) {
    for (const Json& row : items(GetParam().find("rows"))) {
        const std::string kind = text_at(row, 0), want = text_at(row, items(row).size() - 1);
        SCOPED_TRACE(kind + " " + text_at(row, 1).substr(0, 40) + " " + want);
        std::string message = kind == "hex" ? from_hex(text_at(row, 1)) : text_at(row, 1);
        if (kind == "repeat") message.assign(std::stoul(text_at(row, 2)), message[0]);
        if (kind == "lcg") message = lcg(std::stoul(message));
        for (Sha256Path path : paths()) {
            const auto d = sha256_digest(message.data(), message.size(), path);
            EXPECT_EQ(std::string(d.begin(), d.end()), from_hex(want));
        }
        EXPECT_EQ(sha256_hex(message.data(), message.size()), want);
        EXPECT_EQ(digest_in_pieces(Sha256(), message), from_hex(want));
    }
}

// One test per set of make_signature_vectors.py (its note says what each
// row holds); name: sha512 or blake2b; rows: its rows.
TARN_ROWS_OF(HashVectors, kind_groups("update/signature_vectors.json", {"sha512", "blake2b"}));
TEST_P(HashVectors, MatchHashlibAndTheRfc) {
    for (const Json& row : items(GetParam().find("rows"))) {
        const std::string kind = text_at(row, 0);
        SCOPED_TRACE(row.dump(false).substr(0, 120));
        const std::string message =
            text_at(row, 1) == "lcg" ? lcg(std::stoul(text_at(row, 2))) : text_at(row, 2);
        EXPECT_EQ(kind == "sha512" ? digest_in_pieces(Sha512(), message)
                                   : digest_in_pieces(Blake2b(), message),
                  from_hex(text_at(row, 3)));
    }
}

// [ed25519, name, key, message, signature (hex), valid|refused].
TARN_ROWS_OF(Ed25519Vector, rows_of_kind("update/signature_vectors.json", "ed25519"));
TEST_P(Ed25519Vector, VerifiesOrRefuses) {
    Ed25519Key key;
    Ed25519Signature signature;
    const std::string key_bytes = from_hex(text_at(row, 2)), message = from_hex(text_at(row, 3)),
                      signature_bytes = from_hex(text_at(row, 4));
    ASSERT_EQ(key_bytes.size() + signature_bytes.size(), 96u);
    std::copy(key_bytes.begin(), key_bytes.end(), key.begin());
    std::copy(signature_bytes.begin(), signature_bytes.end(), signature.begin());
    const bool valid = text_at(row, 5) == "valid";
    EXPECT_EQ(ed25519_verify(key, signature, message.data(), message.size()), valid);
    // The same through the block feed, the message in two parts.
    Ed25519Verifier verifier;
    const bool started = verifier.start(key, signature);
    verifier.update(message.data(), message.size() / 2);
    verifier.update(message.data() + message.size() / 2, message.size() - message.size() / 2);
    EXPECT_EQ(started && verifier.finish(), valid);
}

// Key pairs made by minisign for this test process: "first", "second", "stranger".
struct MinisignKeys {
    TempDir dir;
    std::map<std::string, std::string> public_key;  // by name

    MinisignKeys() {
        for (const char* name : {"first", "second", "stranger"}) {
            const Path pub = dir.path() / (std::string(name) + ".pub");
            EXPECT_EQ(run_host_program({"/usr/bin/minisign", "-G", "-W", "-p", unix_path(pub), "-s",
                                        unix_path(dir.path() / name)}),
                      0);
            const std::string text = file_bytes(pub);
            public_key[name] = text.substr(text.find('\n') + 1, 56);
        }
    }
    // The .minisig text of file by the named key.
    std::string sign(const Path& file, const std::string& key, const std::string& comment,
                     bool legacy) const {
        std::vector<std::string> argv = {
            "/usr/bin/minisign", "-S", "-s",   unix_path(dir.path() / key), "-m",
            unix_path(file),     "-t", comment};
        if (legacy) argv.push_back("-l");
        EXPECT_EQ(run_host_program(argv), 0);
        return file_bytes(Path(file.native() + native_from_text(".minisig")));
    }
};

const MinisignKeys& minisign_keys() {
    static const MinisignKeys keys;
    return keys;
}

// name; sign: how the runtime is signed (key first|second|stranger, trusted
// comment, legacy); signature: a literal one instead; comment_after: the
// trusted comment line replaced after signing; trusted: the client's keys
// (default first); served: the body (default the signed runtime; its SHA-256
// is the manifest's); url; floor: config/signed-version.txt before; outcome:
// error / what the destination holds / signed-version.txt after. {today} is
// the UTC date, {stranger_id} the untrusted key's id.
TARN_ROWS(SignedDownload, "update/signed_download.json", "rows");
TEST_P(SignedDownload, ChecksTheSignature) {
    const MinisignKeys& keys = minisign_keys();
    InstallSandbox box;
    auto fill = [&](const std::string& text) {
        return replace_all(text,
                           {{"{today}", utc_date_today()},
                            {"{stranger_id}",
                             key_id_text(parse_minisign_key(keys.public_key.at("stranger"))->id)}});
    };
    const std::string runtime = "MZ tarn 1.3.0 runtime";
    const Path file = box.make_file("tarn.exe", runtime);
    const Json& sign = row.find("sign");
    std::string signature = row.get_string("signature", "");
    if (sign.kind == JsonKind::Object) {
        signature = keys.sign(file, sign.get_string("key", "first"),
                              fill(sign.get_string("comment", "")), flag(sign, "legacy"));
    }
    if (row.find("comment_after").kind == JsonKind::String) {
        const std::size_t at = signature.find("\ntrusted comment: ") + 18;
        signature.replace(at, signature.find('\n', at) - at, row.get_string("comment_after", ""));
    }
    const std::string served = row.get_string("served", runtime);
    TestServer server;
    ASSERT_TRUE(server.start(Json(Json::Array{Json(Json::Object{{"body", served}})}).dump(false),
                             {"good"}));
    ReleaseManifest manifest;
    manifest.latest = "1.3.0";
    manifest.download_url =
        replace_all(row.get_string("url", "{base}/tarn.exe"), "{base}", server.base_url());
    manifest.sha256 = sha256_hex(served.data(), served.size());
    manifest.signature = signature;
    if (row.find("floor").kind == JsonKind::String) {
        ASSERT_TRUE(ensure_dir(box.config));
        ASSERT_TRUE(write_file(signed_version_path(box), row.get_string("floor", "") + "\n"));
    }
    std::vector<std::string> trusted;
    for (const Json& name : items(row.find("trusted"))) {
        trusted.push_back(keys.public_key.at(std::get<std::string>(name.value)));
    }
    if (trusted.empty()) trusted.push_back(keys.public_key.at("first"));
    const Path dest = box.cache / "update.bin";
    const Error error =
        UpdateClient(trusted, signed_version_path(box)).download(manifest, dest, {});
    EXPECT_EQ(
        error_text(error) + " / " + file_bytes(dest) + " / " + file_bytes(signed_version_path(box)),
        fill(row.get_string("outcome", "")));
}

std::string describe(const ReleaseManifest& m) {
    return m.latest + "|" + m.stable + "|" + m.channel + "|" + m.download_url + "|" +
           m.release_notes_url + "|" + m.docs_url + "|" + m.sha256 + "|" + std::to_string(m.size) +
           "|" + m.signature + "|" + m.minimum_runtime;
}

// name; kind: origin, resolve, manifest, check, download or release (what
// download_runtime shows, the end-to-end scenarios compare);
// in, base: the URLs of origin and resolve; script: the server's; plain: no
// TLS; api: TARNWICK_UPDATE_API (default the server's); manifest: the one
// given; runtime, version, base_url: the release tool's input; expires: the
// release signed with it by the "first" key, which the client then trusts;
// tamper: one byte of the released runtime changed; blocked: a file where the cache
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
    const bool signs = row.find("expires").kind == JsonKind::String;
    const UpdateClient client =
        signs ? UpdateClient({minisign_keys().public_key.at("first")}) : UpdateClient();
    if (kind == "release") {
        std::string answer, runtime;
        ASSERT_TRUE(write_file(temp.path() / "runtime", field("runtime")));
        ReleaseInput input;
        input.runtime = temp.path() / "runtime";
        input.version = field("version");
        input.base_url = fill(field("base_url"));
        input.expires = field("expires");
        if (signs) {
            input.sign = [](const Path& file, const std::string& comment, std::string& signature) {
                signature = minisign_keys().sign(file, "first", comment, false);
                // minisign's own copy goes: the release tool must publish one.
                (void)delete_file(Path(file.native() + native_from_text(".minisig")));
                return Error();
            };
        }
        error = write_release_folder(input, site, answer);
        if (flag(row, "tamper") && read_file(site / "releases/1.3.0/tarn.exe", runtime)) {
            ASSERT_TRUE(write_file(site / "releases/1.3.0/tarn.exe", runtime.replace(4, 1, "?")));
        }
    }
    if (kind == "check" || kind == "release") {
        if (error.ok()) error = client.check_update(manifest);
        outcome = error.failed() ? error_text(error) : describe(manifest);
    }
    if (kind == "download" || (kind == "release" && error.ok())) {
        ASSERT_TRUE(flag(row, "blocked")
                        ? write_file(dest.parent_path(), "")
                        : ensure_dir(dest.parent_path()) && write_file(dest, "previous"));
        ConsoleCapture quiet;  // the client's log lines
        error = client.download(manifest, dest, {});
        // A file failure ends with the system's reason, in its words.
        outcome = (error.failed() ? error.code == kErrFile ? without_reason(error_text(error))
                                                           : error_text(error)
                                  : "ok") +
                  " / " + file_bytes(dest);
    }
    EXPECT_EQ(outcome, fill(field("outcome")));
    if (signs && error.ok()) {
        EXPECT_EQ(file_bytes(site / "releases/1.3.0/tarn.exe.minisig"), manifest.signature);
        EXPECT_NE(manifest.signature.find("\ntrusted comment: tarnwick 1.3.0 expires " +
                                          field("expires") + "\n"),
                  std::string::npos);
    }
}

const WingetFields kFields{"1.4.2", kSetupVersion,
                           "https://dl.example.org/releases/1.4.2/Tarnwick-Setup.exe", "0123abcd"};

std::string filled_template(const std::string& name) {
    std::string filled;
    const std::string text = file_bytes(source_path("packaging/winget/" + name));
    EXPECT_TRUE(fill_winget_template(text, kFields, filled).ok()) << name;
    return filled;
}

// [a line the filled manifest must hold, the manifest (default: the
// installer's)]: what winget needs to install, list and uninstall the setup,
// that the entry it matches is the one the setup writes, and the version.
TARN_ROWS(WingetInstallerLine, "update/winget_installer_lines.json", "");
TEST_P(WingetInstallerLine, IsInTheFilledManifest) {
    const std::string line = "\n" + text_at(row, 0) + "\n";
    const std::string file = text_at(row, 1);
    EXPECT_NE(filled_template(file.empty() ? "Tarnwick.Tarnwick.installer.yaml" : file).find(line),
              std::string::npos);
}

TEST(Winget, UnknownFieldsAreRefused) {
    std::string filled;
    EXPECT_EQ(
        fill_winget_template("Url: {{INSTALLER_URL}}\n# {{ANY}}\nX: {{SIZE}}\n", kFields, filled)
            .message,
        "Unknown field {{SIZE}} in a winget template");
}

}  // namespace
