// The release signature: SHA-512 and BLAKE2b (as minisign uses it: unkeyed,
// 64 bytes) against hashlib and RFC 7693's example, Ed25519 against RFC 8032 and the encodings a
// strict verifier refuses, and downloads signed at test time by the real minisign tool
// (tests/data/update/signed_download.json).
#include <gtest/gtest.h>

#include <map>

#include "support/layout.h"
#include "tests/common/install_sandbox.h"
#include "tests/common/test_data.h"
#include "tests/common/test_server.h"
#include "update/blake2b.h"
#include "update/release_folder.h"
#include "update/ed25519.h"
#include "update/release_signature.h"
#include "update/sha256.h"
#include "update/sha512.h"
#include "update/update_client.h"

namespace {

using namespace tarncore;
using namespace tarntest;

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

// The release tool's folder, signed by minisign, served back: the client
// installs it, and minisign -V accepts the runtime with the .minisig beside it.
TEST(Signature, SignedReleaseFolder) {
    const MinisignKeys& keys = minisign_keys();
    InstallSandbox box;
    TestServer server;
    const Path site = box.scratch() / "site";
    ASSERT_TRUE(server.start(
        replace_all(
            R"([{"path": "/api/tarnwick/version", "body_file": "{site}/api/tarnwick/version"}, {"path": "/releases/1.3.0/tarn.exe", "body_file": "{site}/releases/1.3.0/tarn.exe"}])",
            "{site}", unix_path(site)),
        {"good"}));
    ReleaseInput input;
    input.runtime = box.make_file("tarn.exe", "MZ signed");
    input.version = "1.3.0";
    input.base_url = server.base_url();
    input.expires = "2099-12-31";
    input.sign = [&](const Path& file, const std::string& comment, std::string& signature) {
        signature = keys.sign(file, "first", comment, false);
        return Error();
    };
    std::string answer;
    ASSERT_EQ(error_text(write_release_folder(input, site, answer)), "0  : ");
    ScopedEnv api("TARNWICK_UPDATE_API", native_from_text(server.url("/api/tarnwick/version")));
    const UpdateClient client({keys.public_key.at("first")});
    ReleaseManifest manifest;
    ASSERT_EQ(error_text(client.check_update(manifest)), "0  : ");
    EXPECT_NE(manifest.signature.find("\ntrusted comment: tarnwick 1.3.0 expires 2099-12-31\n"),
              std::string::npos);
    EXPECT_EQ(error_text(client.download(manifest, box.cache / "update.bin", {})), "0  : ");
    EXPECT_EQ(file_bytes(box.cache / "update.bin"), "MZ signed");
    EXPECT_EQ(run_host_program({"/usr/bin/minisign", "-V", "-q", "-P", keys.public_key.at("first"),
                                "-m", unix_path(site / "releases" / "1.3.0" / "tarn.exe")}),
              0);
    input.expires = "31.12.2099";
    EXPECT_EQ(error_text(write_release_folder(input, site, answer)),
              "9 release write_release_folder: The expiry must be a date such as 2027-06-30 (got "
              "\"31.12.2099\")");
}

}  // namespace
