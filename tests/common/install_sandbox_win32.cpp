#include "tests/common/install_sandbox.h"

#include <vector>

#include "support/win32.h"

namespace tarntest {

// Pending deletions are listed as "\??\<path>" followed by an empty target.
bool deletion_scheduled(const Path& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    std::vector<wchar_t> data;
    bool found = false;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) ==
        ERROR_SUCCESS) {
        data.resize(size / sizeof(wchar_t) + 2);
        if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                             reinterpret_cast<BYTE*>(data.data()), &size) == ERROR_SUCCESS) {
            const std::wstring wanted = L"\\??\\" + path.wstring();
            // Pairs of source and target; an empty target ends no list here.
            const wchar_t* end = data.data() + size / sizeof(wchar_t);
            for (const wchar_t* s = data.data(); s < end; s += wcslen(s) + 1) {
                if (_wcsicmp(s, wanted.c_str()) == 0) found = true;
            }
        }
    }
    RegCloseKey(key);
    return found;
}

}  // namespace tarntest
