#include "install/user_path.h"

#include <gtest/gtest.h>

#include "install/user_path_store.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

using tarntest::ScopedEnv;

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
        {"C:\\A", "C:\\A", true}};
    for (const Case& c : cases) {
        EXPECT_EQ(path_list_contains(N(c.list), N(c.folder)), c.expected)
            << c.list << " / " << c.folder;
    }
}

// Stores `put` (type 0: no value at all) when given, then reads the value back.
UserPathValue stored(const UserPathValue* put = nullptr) {
    auto s = make_user_path_store();
    EXPECT_TRUE(s->open());
    if (put) {
        EXPECT_TRUE(put->type ? s->write(put->data, put->type) : s->erase());
    }
    UserPathValue v = s->read();
    s->close();
    return v;
}

// Each row stores `before` (type 0: no value), then adds or removes D:\B.
TEST(UserPathStore, AddAndRemoveRewriteTheStoredValue) {
    tarntest::InstallSandbox box;
    struct Case {
        bool add;
        NativeString before;
        std::uint32_t type;
        NativeString after;
        std::uint32_t type_after;
    };
    NativeString longer;
    for (int i = 0; longer.size() < 10000; ++i) {
        longer += N("C:\\Some\\Rather\\Long\\Folder\\Name\\Number") + N(std::to_string(i).c_str()) +
                  N(";");
    }
    const Case cases[] = {
        {true, N("D:\\A;"), kRegSz, N("D:\\A;D:\\B"), kRegSz},
        {true, N("D:\\A"), kRegExpandSz, N("D:\\A;D:\\B"), kRegExpandSz},
        {true, N(""), kRegSz, N("D:\\B"), kRegSz},
        {true, N("d:\\b\\\\;D:\\A"), kRegExpandSz, N("d:\\b\\\\;D:\\A"), kRegExpandSz},
        {true, N(""), 0, N("D:\\B"), kRegExpandSz},
        {true, longer, kRegExpandSz, longer + N("D:\\B"), kRegExpandSz},
        {false, longer + N("D:\\B"), kRegExpandSz, longer.substr(0, longer.size() - 1),
         kRegExpandSz},
        {false, N(""), 0, N(""), kRegExpandSz},
        {false, N("D:\\A\\;;D:\\b;D:\\C"), kRegSz, N("D:\\A;D:\\C"), kRegSz},
        {false, N("d:\\B\\"), kRegSz, N(""), kRegSz},
        {false, N(";D:\\Tools\\;"), kRegSz, N("D:\\Tools"), kRegSz},  // absent: still rewritten
    };
    for (const Case& c : cases) {
        const UserPathValue before{c.before, c.type};
        stored(&before);
        Error e = c.add ? add_to_user_path(N("D:\\B")) : remove_from_user_path(N("D:\\B"));
        ASSERT_TRUE(e.ok()) << e.message;
        UserPathValue v = stored();
        EXPECT_EQ(v.data, c.after) << c.before.size() << " " << c.add;
        EXPECT_EQ(v.type, c.type_after) << c.before.size() << " " << c.add;
    }
}

TEST(UserPathStore, AddPrependsToTheProcessPathOnce) {
    tarntest::InstallSandbox box;
    ScopedEnv path("PATH", N("C:\\Windows"));
    ASSERT_TRUE(add_to_user_path(N("D:\\B")).ok());
    ASSERT_TRUE(add_to_user_path(N("D:\\B")).ok());
    EXPECT_EQ(get_env("PATH").value_or(NativeString()), N("D:\\B;C:\\Windows"));
}

}  // namespace
}  // namespace tarncore
