#include "install/user_path_store.h"

#include <fstream>
#include <sstream>
#include <system_error>

namespace tarncore {
namespace {

// One file holds the type on its first line and the PATH string after it.
// There is no broadcast on POSIX.
class FilePathStore final : public UserPathStore {
public:
    bool open() override {
        std::optional<NativeString> base = get_env("XDG_CONFIG_HOME");
        Path dir;
        if (base && !base->empty()) {
            dir = Path(*base) / "tarnwick";
        } else if (std::optional<NativeString> home = get_env("HOME"); home && !home->empty()) {
            dir = Path(*home) / ".config" / "tarnwick";
        } else {
            return false;
        }
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (ec) return false;
        file_ = dir / "user-path";
        return true;
    }

    UserPathValue read() override {
        UserPathValue value;
        std::ifstream in(file_, std::ios::binary);
        if (!in) return value;
        std::string type_line;
        if (!std::getline(in, type_line)) return value;
        std::ostringstream rest;
        rest << in.rdbuf();
        value.type = static_cast<std::uint32_t>(std::strtoul(type_line.c_str(), nullptr, 10));
        value.data = rest.str();
        return value;
    }

    bool write(const NativeString& data, std::uint32_t type) override {
        std::ofstream out(file_, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << type << '\n' << data;
        out.flush();
        return static_cast<bool>(out);
    }

    bool erase() override {
        std::error_code ec;
        std::filesystem::remove(file_, ec);
        return !ec;
    }

    void close() override {}
    void broadcast() override {}

private:
    Path file_;
};

}  // namespace

std::unique_ptr<UserPathStore> make_user_path_store() {
    return std::make_unique<FilePathStore>();
}

}  // namespace tarncore
