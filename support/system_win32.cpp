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

// Past MAX_PATH the file calls need the \\?\ form, which the system takes
// as it is: so only a full path, normalised, with backslashes. 248 is the
// folder limit (MAX_PATH less room for an 8.3 name).
std::wstring long_form(const Path& path) {
    const std::wstring& given = path.native();
    if (given.size() < 248 || given.rfind(L"\\\\?\\", 0) == 0) return given;
    std::wstring p = path.lexically_normal().native();
    std::replace(p.begin(), p.end(), L'/', L'\\');
    if (p.size() > 2 && p[1] == L':' && p[2] == L'\\') return L"\\\\?\\" + p;
    if (p.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + p.substr(2);
    return given;
}

std::string error_text(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide = n > 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
    if (text != nullptr) LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' || wide.back() == L' ')) {
        wide.pop_back();
    }
    if (wide.empty()) return "system error " + std::to_string(code);
    return path_text(Path(wide));
}

}  // namespace

std::string last_error_text() {
    return error_text(GetLastError());
}

std::string disk_full_text() {
    return error_text(ERROR_DISK_FULL);
}

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
    return CopyFileW(long_form(source).c_str(), long_form(target).c_str(), FALSE) != 0;
}

bool move_file(const Path& from, const Path& to, unsigned flags) {
    return MoveFileExW(long_form(from).c_str(), to.empty() ? nullptr : long_form(to).c_str(),
                       flags) != 0;
}

bool delete_file(const Path& path) {
    return DeleteFileW(long_form(path).c_str()) != 0;
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
namespace {

// The user's SID as text, or else their name: two users of one session
// (runas) each get a lock of their own.
std::wstring user_identity() {
    std::wstring identity;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        (void)GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<BYTE> user(size);
        wchar_t* text = nullptr;
        if (size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
            ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) {
            identity = text;
            LocalFree(text);
        }
        CloseHandle(token);
    }
    if (identity.empty()) {
        wchar_t name[257];
        DWORD length = 257;
        if (GetUserNameW(name, &length) && length > 1) identity.assign(name, length - 1);
    }
    return identity;
}

}  // namespace

LockState take_setup_lock(const Path&, std::uint32_t wait_ms) {
    // Kept open until the process ends; the system then lets the next setup in.
    static HANDLE mutex =
        CreateMutexW(nullptr, FALSE, (L"Local\\Tarnwick-Setup-" + user_identity()).c_str());
    if (mutex == nullptr) return LockState::kUnavailable;
    switch (WaitForSingleObject(mutex, wait_ms)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:  // the holder was killed; what it left is repaired
            return LockState::kTaken;
        case WAIT_TIMEOUT: return LockState::kBusy;
        default: return LockState::kUnavailable;
    }
}

bool local_time(std::time_t when, std::tm& out) {
    __time64_t t = when;
    return _localtime64_s(&out, &t) == 0;
}

}  // namespace tarncore

namespace tarncore {

FileKind file_kind(const Path& path) {
    const DWORD attributes = GetFileAttributesW(long_form(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileKind::Missing
                                                                              : FileKind::Unknown;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FileKind::Link;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? FileKind::Folder : FileKind::File;
}

Path final_path(const Path& path) {
    HANDLE h = CreateFileW(long_form(path).c_str(), FILE_READ_ATTRIBUTES,
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
    if (got == 0) {
        // Wine gives up on a name past MAX_PATH; the name within the volume,
        // on the drive it was opened on, is the same final path.
        const std::wstring given = long_form(path);
        const std::size_t drive = given.rfind(L"\\\\?\\", 0) == 0 ? 4 : 0;
        std::vector<wchar_t> info(sizeof(FILE_NAME_INFO) / sizeof(wchar_t) + 32768);
        auto* name = reinterpret_cast<FILE_NAME_INFO*>(info.data());
        if (given.size() > drive + 1 && given[drive + 1] == L':' &&
            GetFileInformationByHandleEx(h, FileNameInfo, name,
                                         static_cast<DWORD>(info.size() * sizeof(wchar_t)))) {
            CloseHandle(h);
            return Path(L"\\\\?\\" + given.substr(drive, 2) +
                        std::wstring(name->FileName, name->FileNameLength / sizeof(wchar_t)));
        }
    }
    CloseHandle(h);
    if (got == 0 || got >= buffer.size()) return {};
    return Path(std::wstring(buffer.data(), got));
}

bool delete_entry(const Path& path) {
    const std::wstring name = long_form(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // A link's attributes are left alone: changing them could reach its target.
    if ((attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        (void)SetFileAttributesW(name.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    }
    // A folder link (junction, mount point, directory symbolic link) goes
    // with RemoveDirectoryW, which removes the link and not what it names.
    const BOOL ok = attributes & FILE_ATTRIBUTE_DIRECTORY ? RemoveDirectoryW(name.c_str())
                                                          : DeleteFileW(name.c_str());
    return ok || GetLastError() == ERROR_FILE_NOT_FOUND;
}

namespace {

// Devices (NUL, CON, pipes) are not files to read or write whole.
HANDLE open_disk_file(const Path& path, DWORD access, DWORD disposition) {
    HANDLE h = CreateFileW(long_form(path).c_str(), access,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// WriteFile takes at most a DWORD at a time and may write less than asked.
bool write_all(HANDLE h, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD put = 0;
        if (!WriteFile(h, bytes.data(), chunk, &put, nullptr) || put == 0) return false;
        bytes.remove_prefix(put);
    }
    return true;
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
    const bool ok = SetEndOfFile(h) != 0 && write_all(h, bytes);
    return CloseHandle(h) && ok;
}

bool append_regular_file(const Path& path, std::string_view bytes) {
    // Append access alone: every write lands at the end, whoever else appends.
    HANDLE h = open_disk_file(path, FILE_APPEND_DATA, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = write_all(h, bytes);
    return CloseHandle(h) && ok;
}

FileOutput::FileOutput(const Path& path) {
    HANDLE h = open_disk_file(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) {
        reason_ = last_error_text();
        failed_ = true;
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
}

FileOutput::~FileOutput() {
    if (is_open()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool FileOutput::write(std::string_view bytes) {
    if (!failed_ && !write_all(reinterpret_cast<HANDLE>(handle_), bytes)) {
        reason_ = last_error_text();
        failed_ = true;
    }
    return !failed_;
}

bool FileOutput::finish() {
    if (!is_open()) return false;
    HANDLE h = reinterpret_cast<HANDLE>(handle_);
    handle_ = kNone;
    if (!failed_ && !FlushFileBuffers(h)) {
        reason_ = last_error_text();
        failed_ = true;
    }
    if (!CloseHandle(h) && !failed_) {
        reason_ = last_error_text();
        failed_ = true;
    }
    return !failed_;
}

bool may_replace(const Path& path) {
    const DWORD attributes = GetFileAttributesW(long_form(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return true;
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
}

void copy_permissions(const Path&, const Path&) {}

std::optional<std::uint64_t> regular_file_size(const Path& path) {
    HANDLE h = CreateFileW(long_form(path).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info) && GetFileType(h) == FILE_TYPE_DISK &&
                    !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(h);
    if (!ok) return std::nullopt;
    return (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

std::optional<std::uint64_t> free_disk_space(const Path& folder) {
    ULARGE_INTEGER available{};
    std::wstring name = long_form(folder);
    if (!name.empty() && name.back() != L'\\') name += L'\\';
    if (!GetDiskFreeSpaceExW(name.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
}

bool make_folder(const Path& path) {
    if (CreateDirectoryW(long_form(path).c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && file_kind(path) == FileKind::Folder;
}

bool list_folder(const Path& folder, std::vector<Path>& entries) {
    const std::wstring pattern = long_form(folder / L"*");
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                nullptr, 0);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::wstring_view name = found.cFileName;
        if (name != L"." && name != L"..") entries.push_back(folder / std::wstring(name));
    } while (FindNextFileW(h, &found));
    const bool ok = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(h);
    return ok;
}

}  // namespace tarncore
