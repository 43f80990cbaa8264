#include "install/user_path.h"

#include <gtest/gtest.h>

#include "install/user_path_store.h"
#include "tests/common/install_sandbox.h"
#include "tests/common/test_data.h"

namespace tarncore {
namespace {

NativeString N(const std::string& text) {
    return native_from_text(text);
}

// list, folder; holds: whether the list names the folder.
TARN_ROWS(UserPathList, "install/user_path.json", "lists");
TEST_P(UserPathList, Matches) {
    EXPECT_EQ(path_list_contains(N(row.get_string("list", "")), N(row.get_string("folder", ""))),
              tarntest::flag(row, "holds"));
}

// op: add or remove D:\B; stored, type: the value before (type 0: none);
// after, type_after: the value then; failure: the start of the error (none:
// success). {long}: some 10 000 characters of entries; {N}: one entry of N
// characters. Adding also puts the folder first in this process's PATH, once.
TARN_ROWS(UserPathChange, "install/user_path.json", "changes");
TEST_P(UserPathChange, RewritesTheStoredValue) {
    tarntest::InstallSandbox box;
    tarntest::ScopedEnv path("PATH", N("C:\\Windows"));
    const auto expand = [](std::string field) {
        std::string longer = "C:\\0";
        for (int i = 1; longer.size() < 10000; ++i)
            longer += ";C:\\Rather\\Long\\Folder" + std::to_string(i);
        field = tarntest::replace_all(field, "{long}", longer);
        if (field.starts_with("{3")) {
            const std::size_t close = field.find('}');
            field = "C:\\" + std::string(std::stoul(field.substr(1, close - 1)) - 3, 'x') +
                    field.substr(close + 1);
        }
        return N(field);
    };
    ASSERT_TRUE(tarntest::store_user_path({expand(row.get_string("stored", "")),
                                           static_cast<std::uint32_t>(row.get_int("type", 0))}));
    const bool add = row.get_string("op", "") == "add";
    const std::string failure = row.get_string("failure", "");
    for (int run = 0; run < (add ? 2 : 1); ++run) {
        const Error e = add ? add_to_user_path(N("D:\\B")) : remove_from_user_path(N("D:\\B"));
        EXPECT_EQ(e.message.substr(0, failure.size()), failure) << e.message;
        EXPECT_EQ(e.ok(), failure.empty());
    }
    const UserPathValue after = tarntest::stored_user_path();
    EXPECT_EQ(after.data, expand(row.get_string("after", "")));
    EXPECT_EQ(after.type, row.get_int("type_after", 0));
    const bool added = add && failure.empty();
    EXPECT_EQ(get_env("PATH").value_or(NativeString()),
              N(added ? "D:\\B;C:\\Windows" : "C:\\Windows"));
}

}  // namespace
}  // namespace tarncore
