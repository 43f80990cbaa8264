#include "install/registration.h"
#include "support/win32.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/layout.h"

namespace tarncore::platform {
namespace {

constexpr wchar_t kUninstallKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwick";

// COM for one call on this thread; a thread that has it already keeps it.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope() {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT result_;
};

IShellLinkW* make_shell_link() {
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&link)))) {
        return nullptr;
    }
    return link;
}

}  // namespace

bool start_copy_remover(const Path& moved) {
    const Path remover = moved.parent_path() / L"Tarnwick-Setup-remover.exe";
    if (!CopyFileW(moved.c_str(), remover.c_str(), FALSE)) return false;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    // No write access, so the loader may still open it; the file goes with the
    // last handle, the helper's inherited one, once its image is let go too.
    HANDLE own = CreateFileW(remover.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_DELETE, &inherit, OPEN_EXISTING,
                             FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (own == INVALID_HANDLE_VALUE) {
        DeleteFileW(remover.c_str());
        return false;
    }
    HANDLE self = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                         SYNCHRONIZE, TRUE, 0)) {
        CloseHandle(own);
        return false;
    }
    // Only these two: an inherited pipe or console would keep the caller waiting.
    HANDLE handles[] = {own, self};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> list(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    bool created = InitializeProcThreadAttributeList(attributes, 1, 0, &size) &&
                   UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                             handles, sizeof handles, nullptr, nullptr);
    if (created) {
        std::wstring line = L"\"" + remover.native() + L"\" " +
                            native_from_text(kCopyRemoverSwitch) + L" " +
                            std::to_wstring(reinterpret_cast<std::uintptr_t>(self));
        STARTUPINFOEXW startup{};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = INVALID_HANDLE_VALUE;
        startup.StartupInfo.hStdOutput = INVALID_HANDLE_VALUE;
        startup.StartupInfo.hStdError = INVALID_HANDLE_VALUE;
        startup.lpAttributeList = attributes;
        PROCESS_INFORMATION info{};
        created = CreateProcessW(remover.c_str(), line.data(), nullptr, nullptr, TRUE,
                                 DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                 &startup.StartupInfo, &info);
        if (created) {
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
        DeleteProcThreadAttributeList(attributes);
    }
    CloseHandle(self);
    CloseHandle(own);
    return created;
}

void wait_for_process(const char* process_handle) {
    const auto value = static_cast<std::uintptr_t>(std::strtoull(process_handle, nullptr, 10));
    HANDLE process = reinterpret_cast<HANDLE>(value);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
}

bool write_uninstall_entry(const std::vector<EntryValue>& values) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool ok = true;
    for (const EntryValue& value : values) {
        const NativeString name = native_from_text(value.name);
        const DWORD number = value.number;
        const LSTATUS status =
            value.is_number
                ? RegSetValueExW(key, name.c_str(), 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&number), sizeof number)
                : RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(value.text.c_str()),
                                 static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t)));
        ok = ok && status == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return ok;
}

std::vector<EntryValue> read_uninstall_entry() {
    std::vector<EntryValue> values;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return values;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD name_size = 256;
        DWORD type = 0;
        BYTE data[4096] = {};
        DWORD data_size = sizeof data - sizeof(wchar_t);
        if (RegEnumValueW(key, index, name, &name_size, nullptr, &type, data, &data_size) !=
            ERROR_SUCCESS) {
            break;
        }
        EntryValue value;
        value.name = path_text(Path(NativeString(name, name_size)));
        value.is_number = type == REG_DWORD;
        if (value.is_number) {
            value.number = *reinterpret_cast<const DWORD*>(data);
        } else {
            value.text = reinterpret_cast<const wchar_t*>(data);
        }
        values.push_back(std::move(value));
    }
    RegCloseKey(key);
    return values;
}

bool delete_uninstall_entry() {
    const LSTATUS status = RegDeleteKeyW(HKEY_CURRENT_USER, kUninstallKey);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

Path start_menu_shortcut_path() {
    PWSTR folder = nullptr;
    Path link;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Programs, 0, nullptr, &folder))) {
        link = Path(folder) / L"Tarnwick Console.lnk";
    }
    CoTaskMemFree(folder);
    return link;
}

Path command_processor() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return Path(L"cmd.exe");
    return Path(NativeString(folder, length)) / L"cmd.exe";
}

bool create_shortcut(const Path& link, const Shortcut& shortcut) {
    if (link.empty()) return false;
    const ComScope com;
    IShellLinkW* shell_link = make_shell_link();
    if (shell_link == nullptr) return false;
    bool ok = SUCCEEDED(shell_link->SetPath(shortcut.target.c_str())) &&
              SUCCEEDED(shell_link->SetArguments(shortcut.arguments.c_str())) &&
              SUCCEEDED(shell_link->SetIconLocation(shortcut.icon.c_str(), 0)) &&
              SUCCEEDED(shell_link->SetDescription(L"Tarnwick Console"));
    if (std::optional<NativeString> home = get_env("USERPROFILE"); ok && home) {
        ok = SUCCEEDED(shell_link->SetWorkingDirectory(home->c_str()));
    }
    IPersistFile* file = nullptr;
    if (ok &&
        SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        (void)ensure_dir(link.parent_path());
        ok = SUCCEEDED(file->Save(link.c_str(), TRUE));
        file->Release();
    } else {
        ok = false;
    }
    shell_link->Release();
    return ok;
}

bool read_shortcut(const Path& link, Shortcut& shortcut) {
    const ComScope com;
    IShellLinkW* shell_link = make_shell_link();
    if (shell_link == nullptr) return false;
    IPersistFile* file = nullptr;
    bool ok =
        SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)));
    if (ok) {
        ok = SUCCEEDED(file->Load(link.c_str(), STGM_READ));
        file->Release();
    }
    wchar_t target[MAX_PATH] = {};
    wchar_t arguments[INFOTIPSIZE] = {};
    wchar_t icon[MAX_PATH] = {};
    int icon_index = 0;
    ok = ok && SUCCEEDED(shell_link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) &&
         SUCCEEDED(shell_link->GetArguments(arguments, INFOTIPSIZE)) &&
         SUCCEEDED(shell_link->GetIconLocation(icon, MAX_PATH, &icon_index));
    shell_link->Release();
    if (ok) shortcut = Shortcut{Path(target), NativeString(arguments), Path(icon)};
    return ok;
}

}  // namespace tarncore::platform
