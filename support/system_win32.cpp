#include "support/system.h"
#include "support/win32.h"

#include <vector>

namespace tarncore {
namespace {

std::wstring widen_ascii(std::string_view name) {
    return {name.begin(), name.end()};
}

UINT file_code_page() {
    return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

}  // namespace

std::optional<NativeString> get_env(std::string_view name) {
    std::wstring key = widen_ascii(name);
    SetLastError(ERROR_SUCCESS);
    DWORD size = GetEnvironmentVariableW(key.c_str(), nullptr, 0);
    if (size == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return NativeString();
    }
    std::vector<wchar_t> buffer(size);
    DWORD got = GetEnvironmentVariableW(key.c_str(), buffer.data(), size);
    if (got >= size) return std::nullopt;  // changed between the calls
    return NativeString(buffer.data(), got);
}

bool set_env(std::string_view name, const NativeString& value) {
    return SetEnvironmentVariableW(widen_ascii(name).c_str(), value.c_str()) != 0;
}

bool unset_env(std::string_view name) {
    return SetEnvironmentVariableW(widen_ascii(name).c_str(), nullptr) != 0;
}

Path module_file_name() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD got = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (got == 0) return {};
        if (got < buffer.size()) return Path(std::wstring(buffer.data(), got));
        buffer.resize(buffer.size() * 2);
    }
}

bool copy_file_replace(const Path& source, const Path& target) {
    return CopyFileW(source.c_str(), target.c_str(), FALSE) != 0;
}

bool move_file(const Path& from, const Path& to, unsigned flags) {
    return MoveFileExW(from.c_str(), to.empty() ? nullptr : to.c_str(), flags) != 0;
}

bool delete_file(const Path& path) {
    return DeleteFileW(path.c_str()) != 0;
}

std::string path_text(const Path& path) {
    const std::wstring& wide = path.native();
    if (wide.empty()) return {};
    UINT cp = file_code_page();
    int n = WideCharToMultiByte(cp, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(cp, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

NativeString native_from_text(std::string_view text) {
    if (text.empty()) return {};
    UINT cp = file_code_page();
    int n = MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

}  // namespace tarncore

namespace tarncore {

bool local_time(std::time_t when, std::tm& out) {
    __time64_t t = when;
    return _localtime64_s(&out, &t) == 0;
}

}  // namespace tarncore
