#include "install/user_path_store.h"

#include <cstdlib>
#include <system_error>

#include "support/layout.h"

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
        std::string text;
        const std::size_t line_end = read_file(file_, text) ? text.find('\n') : std::string::npos;
        if (line_end == std::string::npos) return value;
        value.type = static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
        value.data = text.substr(line_end + 1);
        return value;
    }

    bool write(const NativeString& data, std::uint32_t type) override {
        return write_file(file_, std::to_string(type) + "\n" + data);
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
