#include "tests/common/install_sandbox.h"

#include "install/registration.h"
#include "support/layout.h"

namespace tarntest {

InstallSandbox::InstallSandbox() : xdg_env_("XDG_CONFIG_HOME", config_.path().native()) {
    static_cast<tarncore::Layout&>(*this) = tarncore::Layout(local_.path() / "Tarnwick");
    saved_ = stored_user_path();
}

InstallSandbox::~InstallSandbox() {
    // A test that stopped half-way must not leave Windows listing its root.
    tarncore::unregister_installation();
    (void)store_user_path(saved_);
}

Path InstallSandbox::make_file(const std::string& name, const std::string& bytes) const {
    Path path = scratch_.path() / name;
    (void)tarncore::write_file(path, bytes);
    return path;
}

tarncore::UserPathValue stored_user_path() {
    auto store = tarncore::make_user_path_store();
    if (!store->open()) return {};
    const tarncore::UserPathValue value = store->read();
    store->close();
    return value;
}

bool store_user_path(const tarncore::UserPathValue& value) {
    auto store = tarncore::make_user_path_store();
    if (!store->open()) return false;
    const bool stored = value.type != 0 ? store->write(value.data, value.type) : store->erase();
    store->close();
    return stored;
}

}  // namespace tarntest
