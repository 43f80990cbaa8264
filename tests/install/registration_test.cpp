#include "install/registration.h"

#include <gtest/gtest.h>

#include "install/install_steps.h"
#include "support/layout.h"
#include "tests/common/console_capture.h"
#include "tests/common/install_sandbox.h"
#include "tests/common/test_data.h"

namespace tarncore {
namespace {

// The entry's other values, the setup's copy and their removal are compared
// whole by the end-to-end scenarios; they show the size only as a bound and
// the shortcut only by its name.
TEST(Registration, SizeInWholeKibAndTheShortcutsConsole) {
    tarntest::InstallSandbox box;
    {
        tarntest::ConsoleCapture quiet;
        ASSERT_TRUE(install_runtime(box, box.make_file("rt", "runtime")).ok());
        ASSERT_TRUE(register_installation(box).ok());
    }
    std::uintmax_t bytes = 0;
    for (const std::string& file : tarntest::files_below(box.root)) {
        bytes += std::filesystem::file_size(box.root / Path(file).make_preferred());
    }
    std::uint32_t kib = 0;
    for (const EntryValue& value : platform::read_uninstall_entry())
        if (value.name == "EstimatedSize") kib = value.number;
    EXPECT_EQ(kib, (bytes + 1023) / 1024);

    platform::Shortcut shortcut;
    ASSERT_TRUE(platform::read_shortcut(platform::start_menu_shortcut_path(), shortcut));
    EXPECT_EQ(shortcut.target.filename().string(), "cmd.exe");
    EXPECT_EQ(path_text(Path(shortcut.arguments))
                  .rfind("/k \"set PATH=" + path_text(box.bin) + ";%PATH% && ", 0),
              0u);
}

}  // namespace
}  // namespace tarncore
