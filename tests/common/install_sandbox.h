// A private installation for a test: its layout in a scratch folder, a
// scratch POSIX config folder, and the user PATH value put back afterwards.
// The sandbox is the layout it hands to the code under test.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "install/user_path_store.h"
#include "support/layout.h"
#include "tests/common/test_data.h"

namespace tarntest {

class InstallSandbox : public tarncore::Layout {
public:
    InstallSandbox();
    ~InstallSandbox();

    /// A scratch folder for sources, outside the installation.
    const Path& scratch() const { return scratch_.path(); }
    /// Writes a file in the scratch folder and returns its path.
    Path make_file(const std::string& name, const std::string& bytes) const;

private:
    TempDir local_;
    TempDir config_;
    TempDir scratch_;
    ScopedEnv xdg_env_;
    tarncore::UserPathValue saved_;
};

/// The user PATH value as stored now (type 0: none).
tarncore::UserPathValue stored_user_path();
/// Stores the user PATH value, or with type 0 removes it.
bool store_user_path(const tarncore::UserPathValue& value);

/// The Error of action as one line, " | ", then what action printed.
template <typename Action>
std::string quietly(Action action) {
    testing::internal::CaptureStdout();
    const std::string error = error_text(action());
    return error + " | " + testing::internal::GetCapturedStdout();
}

/// Whether the system will delete the file at the next restart.
bool deletion_scheduled(const Path& path);

}  // namespace tarntest
