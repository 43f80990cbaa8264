#include "install/layout.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/common/test_env.h"

namespace tarncore {
namespace {

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
    const Path dir = tmp.path() / "a" / "b";
    EXPECT_TRUE(ensure_dir(dir));
    EXPECT_TRUE(ensure_dir(dir)) << "an existing folder is fine";
    EXPECT_FALSE(path_exists(tmp.path() / "missing" / "child"));

    EXPECT_FALSE(write_file(tmp.path() / "nowhere" / "f.bin", "x"));
    const std::string bytes("one\r\ntwo\0three\n", 15);
    ASSERT_TRUE(write_file(dir / "f.bin", bytes));
    std::string back;
    ASSERT_TRUE(read_file(dir / "f.bin", back));
    EXPECT_EQ(back, bytes) << "binary mode keeps every byte";
    EXPECT_FALSE(read_file(dir / "absent", back));

    ASSERT_TRUE(write_file(dir / "f.bin", "short"));
    ASSERT_TRUE(read_file(dir / "f.bin", back));
    EXPECT_EQ(back, "short") << "an existing file is truncated";

    const Path target = tmp.path() / "c" / "d" / "copy.bin";
    ASSERT_TRUE(write_file(tmp.path() / "src.bin", "first"));
    ASSERT_TRUE(copy_with_parents(tmp.path() / "src.bin", target));
    ASSERT_TRUE(write_file(tmp.path() / "src.bin", "second"));
    ASSERT_TRUE(copy_with_parents(tmp.path() / "src.bin", target));
    ASSERT_TRUE(read_file(target, back));
    EXPECT_EQ(back, "second") << "an existing target is replaced";
    EXPECT_FALSE(copy_with_parents(tmp.path() / "absent", tmp.path() / "x" / "y"));
}

TEST(Layout, ExecutablePathNamesThisProgram) {
    Path self = executable_path();
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(path_exists(self));
    EXPECT_EQ(self.stem(), Path("install_tests"));
}

}  // namespace
}  // namespace tarncore
