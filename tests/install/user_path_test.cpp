#include "install/user_path.h"

#include <gtest/gtest.h>

#include "install/user_path_store.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

NativeString N(const std::string& text) {
    return native_from_text(text);
}

TEST(UserPath, ListMatching) {
    for (const auto& row : tarntest::data_rows("install/path_lists.txt")) {
        EXPECT_EQ(path_list_contains(N(row[0]), N(row[1])), row[2] == "1")
            << row[0] << " / " << row[1];
    }
}

// Adding also puts the folder first in this process's PATH, once.
TEST(UserPathStore, AddAndRemoveRewriteTheStoredValue) {
    tarntest::InstallSandbox box;
    tarntest::ScopedEnv path("PATH", N("C:\\Windows"));
    std::string longer = "C:\\0";
    for (int i = 1; longer.size() < 10000; ++i)
        longer += ";C:\\Rather\\Long\\Folder" + std::to_string(i);
    const auto expand = [&](std::string field) {
        if (field.rfind("{long}", 0) == 0) field = longer + field.substr(6);
        if (field.rfind("{3", 0) == 0) {
            const std::size_t close = field.find('}');
            field = "C:\\" + std::string(std::stoul(field.substr(1, close - 1)) - 3, 'x') +
                    field.substr(close + 1);
        }
        return N(field);
    };
    for (const auto& row : tarntest::data_rows("install/user_path_changes.txt")) {
        auto store = make_user_path_store();
        ASSERT_TRUE(store->open());
        const auto type = static_cast<std::uint32_t>(std::stoul(row[2]));
        ASSERT_TRUE(type ? store->write(expand(row[1]), type) : store->erase());
        store->close();
        Error e =
            row[0] == "add" ? add_to_user_path(N("D:\\B")) : remove_from_user_path(N("D:\\B"));
        const std::string failure = row.size() > 5 ? row[5] : "";
        EXPECT_EQ(e.message.substr(0, failure.size()), failure) << e.message;
        EXPECT_EQ(e.ok(), failure.empty()) << row[0] << " " << row[1].substr(0, 20);
        ASSERT_TRUE(store->open());
        const UserPathValue after = store->read();
        store->close();
        EXPECT_EQ(after.data, expand(row[3])) << row[0] << " " << row[1].substr(0, 20);
        EXPECT_EQ(after.type, std::stoul(row[4])) << row[0] << " " << row[1].substr(0, 20);
    }
    EXPECT_EQ(get_env("PATH").value_or(NativeString()), N("D:\\B;C:\\Windows"));
}

}  // namespace
}  // namespace tarncore
