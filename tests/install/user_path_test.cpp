#include "install/user_path.h"

#include <gtest/gtest.h>

#include "install/user_path_store.h"
#include "tests/common/test_env.h"

namespace tarncore {
namespace {

using tarntest::ScopedEnv;
using tarntest::TempDir;

NativeString N(const char* text) {
    return native_from_text(text);
}

TEST(UserPath, ListMatching) {
    struct Case {
        const char* list;
        const char* folder;
        bool expected;
    };
    const Case cases[] = {
        {"d:\\users\\x\\appdata\\local\\tarnwick\\BIN\\\\",
         "D:\\Users\\X\\AppData\\Local\\Tarnwick\\bin", true},
        {"C:\\A;D:\\B/", "d:\\b", true},
        {"C:\\A;D:\\B", "D:\\B\\", false},  // the folder keeps its own separators
        {"", "D:\\B", false},
        {";;\\\\;", "D:\\B", false},
        {"D:\\Bx;D:\\", "D:\\B", false},
        {"C:\\\xC3\x89T\xC3\x89", "c:\\\xC3\xA9t\xC3\xA9", false},  // only A..Z fold
        {"C:\\A", "C:\\A", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(path_list_contains(N(c.list), N(c.folder)), c.expected)
            << c.list << " / " << c.folder;
    }
}

// Saves the user PATH value and restores it when the test ends; natively the
// store lives in a scratch config folder.
class UserPathStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(store_->open());
        saved_ = store_->read();
    }
    void TearDown() override {
        if (saved_.type != 0) {
            (void)store_->write(saved_.data, saved_.type);
        } else {
            (void)store_->erase();
        }
        store_->close();
    }
    UserPathValue stored() {
        auto s = make_user_path_store();
        EXPECT_TRUE(s->open());
        UserPathValue v = s->read();
        s->close();
        return v;
    }
    void put(const NativeString& data, std::uint32_t type) {
        auto s = make_user_path_store();
        ASSERT_TRUE(s->open());
        ASSERT_TRUE(s->write(data, type));
        s->close();
    }

    TempDir config_;
    ScopedEnv xdg_{"XDG_CONFIG_HOME", config_.path().native()};
    std::unique_ptr<UserPathStore> store_ = make_user_path_store();
    UserPathValue saved_;
};

TEST_F(UserPathStoreTest, AddKeepsTypeAndAppends) {
    struct Case {
        const char* before;
        std::uint32_t type;
        const char* after;
        std::uint32_t type_after;
    };
    const Case cases[] = {
        {"D:\\A;", kRegSz, "D:\\A;D:\\B", kRegSz},
        {"D:\\A", kRegExpandSz, "D:\\A;D:\\B", kRegExpandSz},
        {"", kRegSz, "D:\\B", kRegSz},
        {"d:\\b\\\\;D:\\A", kRegExpandSz, "d:\\b\\\\;D:\\A", kRegExpandSz},
    };
    for (const Case& c : cases) {
        put(N(c.before), c.type);
        ASSERT_TRUE(add_to_user_path(N("D:\\B")).ok());
        UserPathValue v = stored();
        EXPECT_EQ(v.data, N(c.after)) << c.before;
        EXPECT_EQ(v.type, c.type_after) << c.before;
    }
}

TEST_F(UserPathStoreTest, MissingValueIsCreated) {
    ASSERT_TRUE(store_->erase());
    ASSERT_EQ(stored().type, 0u);
    ASSERT_TRUE(add_to_user_path(N("D:\\B")).ok());
    UserPathValue v = stored();
    EXPECT_EQ(v.data, N("D:\\B"));
    EXPECT_EQ(v.type, kRegExpandSz);

    ASSERT_TRUE(store_->erase());
    ASSERT_TRUE(remove_from_user_path(N("D:\\B")).ok());
    v = stored();
    EXPECT_EQ(v.data, N(""));
    EXPECT_EQ(v.type, kRegExpandSz) << "removal writes an empty value";
}

TEST_F(UserPathStoreTest, RemoveRebuildsTheList) {
    const std::pair<const char*, const char*> cases[] = {
        {"D:\\A\\;;D:\\Tools\\bin;D:\\B", "D:\\A;D:\\B"},
        {"D:\\TOOLS\\BIN\\", ""},
        {";D:\\Tools\\;", "D:\\Tools"},  // absent folder: still rewritten
    };
    for (const auto& [before, after] : cases) {
        put(N(before), kRegSz);
        ASSERT_TRUE(remove_from_user_path(N("D:\\Tools\\bin")).ok());
        UserPathValue v = stored();
        EXPECT_EQ(v.data, N(after)) << before;
        EXPECT_EQ(v.type, kRegSz) << "REG_SZ stays REG_SZ";
    }
}

TEST_F(UserPathStoreTest, LongValueSurvivesWhole) {
    NativeString longer;
    for (int i = 0; longer.size() < 10000; ++i) {
        if (!longer.empty()) longer += N(";");
        longer += N("C:\\Some\\Rather\\Long\\Folder\\Name\\Number") + N(std::to_string(i).c_str());
    }
    put(longer, kRegExpandSz);
    ASSERT_TRUE(add_to_user_path(N("D:\\B")).ok());
    EXPECT_EQ(stored().data, longer + N(";D:\\B"));
    ASSERT_TRUE(remove_from_user_path(N("D:\\B")).ok());
    EXPECT_EQ(stored().data, longer);
}

TEST_F(UserPathStoreTest, AddPrependsToTheProcessPathOnce) {
    put(N(""), kRegExpandSz);
    ScopedEnv path("PATH", N("C:\\Windows"));
    ASSERT_TRUE(add_to_user_path(N("D:\\B")).ok());
    ASSERT_TRUE(add_to_user_path(N("D:\\B")).ok());
    EXPECT_EQ(get_env("PATH").value_or(NativeString()), N("D:\\B;C:\\Windows"));
}

}  // namespace
}  // namespace tarncore
