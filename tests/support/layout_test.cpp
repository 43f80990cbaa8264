#include "support/layout.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

using tarntest::file_bytes;
using tarntest::ScopedEnv;
using tarntest::TempDir;

NativeString repeat_to(const Path& base, std::size_t length) {
    NativeString s = base.native();
    s.push_back(Path::preferred_separator);
    while (s.size() < length) s.push_back('a');
    return s;
}

TEST(Layout, RootFollowsLocalAppDataAndItsLengthLimit) {
    TempDir tmp;
    {
        ScopedEnv env("LOCALAPPDATA", tmp.path().native());
        EXPECT_EQ(bin_dir(), tmp.path() / "Tarnwick" / "bin");
        EXPECT_EQ(install_record_path(), tmp.path() / "Tarnwick" / "config" / "install.json");
    }
    const std::pair<std::optional<NativeString>, bool> cases[] = {
        {repeat_to(tmp.path(), 259), true},  // 259 characters still fit
        {repeat_to(tmp.path(), 260), false},
        {NativeString(), false},
        {std::nullopt, false},
    };
    for (const auto& [value, usable] : cases) {
        ScopedEnv env("LOCALAPPDATA", value);
        EXPECT_EQ(install_root().empty(), !usable) << value.value_or(NativeString()).size();
    }
}

TEST(Layout, FileHelpers) {
    TempDir tmp;
    const Path file = tmp.path() / "a" / "b" / "f.bin", copy = tmp.path() / "c" / "d" / "copy.bin";
    EXPECT_TRUE(ensure_dir(file.parent_path()) && ensure_dir(file.parent_path()));
    EXPECT_FALSE(write_file(tmp.path() / "nowhere" / "f.bin", "x"));
    const std::string bytes("one\r\ntwo\0three\n", 15);
    ASSERT_TRUE(write_file(file, bytes));
    EXPECT_EQ(file_bytes(file), bytes) << "binary mode keeps every byte";
    ASSERT_TRUE(copy_with_parents(file, copy));
    ASSERT_TRUE(write_file(file, "short"));
    EXPECT_EQ(file_bytes(file), "short") << "an existing file is truncated";
    ASSERT_TRUE(copy_with_parents(file, copy));
    EXPECT_EQ(file_bytes(copy), "short") << "an existing target is replaced";
    EXPECT_EQ(file_bytes(tmp.path() / "absent"), "<missing>");
    EXPECT_FALSE(copy_with_parents(tmp.path() / "absent", tmp.path() / "x" / "y"));
}

TEST(Layout, ExecutablePathNamesThisProgram) {
    Path self = executable_path();
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(path_exists(self));
    EXPECT_EQ(self.stem(), Path("support_tests"));
}

}  // namespace
}  // namespace tarncore
