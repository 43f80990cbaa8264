#include "support/layout.h"

#include <gtest/gtest.h>

#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

using tarntest::file_bytes;
using tarntest::ScopedEnv;
using tarntest::TempDir;

TEST(Layout, RootFollowsLocalAppDataAndItsLengthLimit) {
    TempDir tmp;
    for (const std::size_t length : {259u, 260u, 0u}) {
        NativeString value = (tmp.path() / "").native();
        value.resize(length, 'a');
        ScopedEnv env("LOCALAPPDATA", value);
        EXPECT_EQ(install_root(), length == 259 ? Path(value) / "Tarnwick" : Path()) << length;
        EXPECT_EQ(install_record_path(), install_root() / "config" / "install.json");
    }
    ScopedEnv unset("LOCALAPPDATA", std::nullopt);
    EXPECT_EQ(install_root(), Path());
}

// None of them throws, on a folder, a device, a read-only file or a missing one.
TEST(Layout, FileHelpersReportFailureAndNeverThrow) {
    TempDir tmp;
    const Path file = tmp.path() / "a" / "f.bin", copy = tmp.path() / "c" / "d" / "copy.bin";
    EXPECT_TRUE(ensure_dir(file.parent_path()) && ensure_dir(file.parent_path()));
    const std::string bytes("one\r\ntwo\0three\n", 15);
    ASSERT_TRUE(write_file(file, bytes));
    EXPECT_EQ(file_bytes(file), bytes) << "binary mode keeps every byte";
    ASSERT_TRUE(copy_with_parents(file, copy));
    ASSERT_TRUE(write_file(file, "short"));
    ASSERT_TRUE(copy_with_parents(file, copy));
    EXPECT_EQ(file_bytes(copy), "short") << "an existing target is truncated or replaced";
    tarntest::set_read_only(copy, true);
    std::string text = "kept";
    for (const Path& bad : {tmp.path(), tarntest::null_device(), tmp.path() / "absent"}) {
        EXPECT_FALSE(read_file(bad, text)) << bad;
        EXPECT_FALSE(bad != tmp.path() / "absent" && write_file(bad, "x")) << bad;
        EXPECT_FALSE(copy_with_parents(bad, tmp.path() / "x" / "y")) << bad;
    }
    EXPECT_EQ(text, "kept");
    EXPECT_FALSE(write_file(copy, "x") || write_file(tmp.path() / "nowhere" / "f", "x"));
    EXPECT_FALSE(path_exists(tmp.path() / "nowhere" / "f"));
    tarntest::set_read_only(copy, false);
}

TEST(Layout, ExecutablePathNamesThisProgram) {
    const Path self = executable_path();
    EXPECT_TRUE(path_exists(self));
    EXPECT_EQ(self.stem(), Path("support_tests"));
}

}  // namespace
}  // namespace tarncore
