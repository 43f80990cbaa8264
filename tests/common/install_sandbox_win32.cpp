#include "tests/common/install_sandbox.h"

#include <vector>

#include "support/win32.h"

namespace tarntest {

// Pending deletions are listed as "\??\<path>" followed by an empty target.
bool deletion_scheduled(const Path& path) {
    constexpr wchar_t kKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
    constexpr wchar_t kValue[] = L"PendingFileRenameOperations";
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                     &size) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 2);
    size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr, data.data(),
                     &size) != ERROR_SUCCESS) {
        return false;
    }
    // Pairs of source and target; an empty target ends no list here.
    const std::wstring wanted = L"\\??\\" + path.wstring();
    const wchar_t* end = data.data() + size / sizeof(wchar_t);
    for (const wchar_t* s = data.data(); s < end; s += wcslen(s) + 1) {
        if (_wcsicmp(s, wanted.c_str()) == 0) return true;
    }
    return false;
}

}  // namespace tarntest
