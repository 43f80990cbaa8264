#include "install/user_path_store.h"
#include "support/win32.h"

#include <vector>

namespace tarncore {
namespace {

class RegistryPathStore final : public UserPathStore {
public:
    ~RegistryPathStore() override { close(); }

    bool open() override {
        close();
        return RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_READ | KEY_WRITE, &key_) ==
               ERROR_SUCCESS;
    }

    UserPathValue read() override {
        UserPathValue value;
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(key_, L"Path", nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
            return value;
        }
        value.type = type;
        if (size == 0) return value;
        std::vector<wchar_t> buffer(size / 2 + 1, L'\0');
        DWORD got = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
        if (RegQueryValueExW(key_, L"Path", nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                             &got) != ERROR_SUCCESS) {
            return UserPathValue{};
        }
        value.data.assign(buffer.data(), got / 2);
        while (!value.data.empty() && value.data.back() == L'\0') value.data.pop_back();
        return value;
    }

    bool write(const NativeString& data, std::uint32_t type) override {
        // The data goes with its terminating NUL: (length + 1) * 2 bytes.
        DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
        return RegSetValueExW(key_, L"Path", 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                              bytes) == ERROR_SUCCESS;
    }

    bool erase() override {
        LSTATUS status = RegDeleteValueW(key_, L"Path");
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }

    void close() override {
        if (key_ != nullptr) RegCloseKey(key_);
        key_ = nullptr;
    }

    void broadcast() override {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                            reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG, 2000,
                            &result);
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace

std::unique_ptr<UserPathStore> make_user_path_store() {
    return std::make_unique<RegistryPathStore>();
}

}  // namespace tarncore
