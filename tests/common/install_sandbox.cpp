#include "tests/common/install_sandbox.h"

#include "install/registration.h"
#include "support/layout.h"

namespace tarntest {

InstallSandbox::InstallSandbox() : xdg_env_("XDG_CONFIG_HOME", config_.path().native()) {
    static_cast<tarncore::Layout&>(*this) = tarncore::Layout(local_.path() / "Tarnwick");
    auto store = tarncore::make_user_path_store();
    if (store->open()) {
        saved_ = store->read();
        store->close();
    }
}

InstallSandbox::~InstallSandbox() {
    // A test that stopped half-way must not leave Windows listing its root.
    tarncore::unregister_installation();
    auto store = tarncore::make_user_path_store();
    if (!store->open()) return;
    if (saved_.type != 0) {
        (void)store->write(saved_.data, saved_.type);
    } else {
        (void)store->erase();
    }
    store->close();
}

Path InstallSandbox::make_file(const std::string& name, const std::string& bytes) const {
    Path path = scratch_.path() / name;
    (void)tarncore::write_file(path, bytes);
    return path;
}

tarncore::NativeString InstallSandbox::user_path() const {
    auto store = tarncore::make_user_path_store();
    if (!store->open()) return {};
    tarncore::NativeString data = store->read().data;
    store->close();
    return data;
}

std::string file_bytes(const Path& path) {
    std::string bytes;
    if (!tarncore::read_file(path, bytes)) return "<missing>";
    return bytes;
}

}  // namespace tarntest
