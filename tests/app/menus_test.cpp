// The status screen and its menus, driven through the prompt with a stand-in
// update service: what each answer shows and what it leaves installed.
#include <gtest/gtest.h>

#include "app/front.h"
#include "install/install_steps.h"
#include "tests/common/console_capture.h"
#include "tests/common/install_sandbox.h"
#include "tests/common/test_data.h"

namespace tarncore {
namespace {

// The answers in order; past them the input has ended (an empty answer).
struct ScriptedPrompt final : Prompt {
    Json answers;
    std::size_t next = 0;
    std::string read_choice() override { return tarntest::text_at(answers, next++); }
};

// Names a latest version, or with none does not answer; a download always fails.
struct StandInService final : UpdateSource {
    std::string latest;
    Error check_update(ReleaseManifest& manifest) const override {
        manifest.latest = latest;
        manifest.download_url = "https://updates.invalid/tarn.exe";
        return latest.empty() ? Error(kErrHttp, "update", "check", "no answer") : Error();
    }
    Error download(const ReleaseManifest&, const Path&, ProgressCallback) const override {
        return Error(kErrHttp, "update", "download", "Download refused");
    }
};

// Row: "flow" (setup or uninstall), "silent", "start" (none, installed: the
// module version with both tools, or no root), "latest" (the service's answer;
// absent: none), "answers" to the menus; then the "exit" code, "stdout" after
// the banner and "stderr" as a console shows them ({root}: the installation
// root), and whether a runtime is "left".
TARN_ROWS(Menus, "app/menus.json", "rows");

TEST_P(Menus, AnswersLeadWhereTheyShould) {
    tarntest::InstallSandbox box;
    const std::string start = row.get_string("start", "none");
    const Layout layout = start == "no root" ? Layout() : box;
    if (start == "installed") {
        tarntest::ConsoleCapture quiet;
        ASSERT_TRUE(install_runtime(layout, box.make_file("rt", "runtime")).ok());
        for (const char* tool : {"ffmpeg.exe", "yt-dlp.exe"})
            ASSERT_TRUE(ensure_dir(layout.tools) &&
                        write_file(layout.tools / tool, std::string(2048, 'x')));
    }
    ScriptedPrompt prompt;
    prompt.answers = row.find("answers");
    StandInService service;
    service.latest = row.get_string("latest", "");
    const SetupContext context{layout, prompt, service};
    const bool silent = tarntest::flag(row, "silent");

    tarntest::ConsoleCapture console;
    const int exit = row.get_string("flow", "") == "uninstall" ? run_uninstall(context, silent)
                                                               : run_setup(context, silent);
    const auto expand = [&](const char* key) {
        return tarntest::replace_all(tarntest::lines(row.find(key)), "{root}",
                                     path_text(layout.root));
    };
    EXPECT_EQ(exit, row.get_int("exit", 0));
    EXPECT_EQ(tarntest::screen(console.out()),
              "============================================\n  Tarnwick Setup  1.0.0\n"
              "============================================\n\n" +
                  expand("stdout"));
    EXPECT_EQ(tarntest::screen(console.err(), "http"), expand("stderr"));
    EXPECT_EQ(path_exists(layout.bin / "tarn.exe"), row.get_string("left", "") == "yes");
}

}  // namespace
}  // namespace tarncore
