#include "support/system.h"
#include "support/win32.h"

#include <algorithm>
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

namespace tarncore {

FileKind file_kind(const Path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileKind::Missing
                                                                              : FileKind::Unknown;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileKind::Link;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::Folder : FileKind::File;
}

Path final_path(const Path& path) {
    HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD got = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                          FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (got >= buffer.size()) {
        buffer.resize(got + 1);
        got = GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    CloseHandle(h);
    if (got == 0 || got >= buffer.size()) return {};
    return Path(std::wstring(buffer.data(), got));
}

bool delete_entry(const Path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // A link's attributes are left alone: changing them could reach its target.
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        (void)SetFileAttributesW(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    }
    // A folder link (junction, mount point, directory symbolic link) goes
    // with RemoveDirectoryW, which removes the link and not what it names.
    const BOOL ok = attributes & FILE_ATTRIBUTE_DIRECTORY ? RemoveDirectoryW(path.c_str())
                                                          : DeleteFileW(path.c_str());
    return ok || GetLastError() == ERROR_FILE_NOT_FOUND;
}

namespace {

// Devices (NUL, CON, pipes) are not files to read or write whole.
HANDLE open_disk_file(const Path& path, DWORD access, DWORD disposition) {
    HANDLE h =
        CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

}  // namespace

bool read_regular_file(const Path& path, std::string& bytes) {
    HANDLE h = open_disk_file(path, GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return false;
    std::string out;
    char buffer[65536];
    DWORD got = 0;
    BOOL ok;
    while ((ok = ReadFile(h, buffer, sizeof buffer, &got, nullptr)) && got > 0)
        out.append(buffer, got);
    CloseHandle(h);
    if (!ok) return false;
    bytes = std::move(out);
    return true;
}

bool write_regular_file(const Path& path, std::string_view bytes) {
    HANDLE h = open_disk_file(path, GENERIC_WRITE, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = SetEndOfFile(h) != 0;
    while (ok && !bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD put = 0;
        ok = WriteFile(h, bytes.data(), chunk, &put, nullptr) && put > 0;
        if (ok) bytes.remove_prefix(put);
    }
    return CloseHandle(h) && ok;
}

bool append_regular_file(const Path& path, std::string_view bytes) {
    // Append access alone: every write lands at the end, whoever else appends.
    HANDLE h = open_disk_file(path, FILE_APPEND_DATA, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    while (ok && !bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD put = 0;
        ok = WriteFile(h, bytes.data(), chunk, &put, nullptr) && put > 0;
        if (ok) bytes.remove_prefix(put);
    }
    return CloseHandle(h) && ok;
}

}  // namespace tarncore
