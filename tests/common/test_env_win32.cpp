#include "tests/common/test_env.h"

#include <cstdlib>

#include "support/win32.h"
#include "tests/common/child_process.h"

namespace tarntest {

Path host_path(const std::string& unix_path) {
    std::string p = "Z:" + unix_path;
    for (char& c : p) {
        if (c == '/') c = '\\';
    }
    return Path(tarncore::native_from_text(p));
}

Path test_tool(const std::string& name) {
    return host_path(std::string(TARN_TEST_TOOLS_DIR) + "/" + name + ".exe");
}

void set_folder_read_only(const Path& path, bool read_only) {
    using UnixName = char*(__cdecl*)(const wchar_t*);
    auto unix_name = reinterpret_cast<UnixName>(
        reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (unix_name == nullptr) return;  // real Windows: nothing to do without ACLs
    char* name = unix_name(path.c_str());
    if (name == nullptr) return;
    std::string host(name);
    HeapFree(GetProcessHeap(), 0, name);
    ChildProcess chmod;
    if (!chmod.start(host_path("/bin/chmod"), {read_only ? "a-w" : "u+w", host})) return;
    // The handle of a host program can signal before the program has run:
    // wait until a probe file shows the change.
    const Path probe = path / L"tarnwick-probe.tmp";
    for (int i = 0; i < 500; ++i) {
        HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        const bool writable = h != INVALID_HANDLE_VALUE;
        if (writable) CloseHandle(h);
        if (writable != read_only) return;
        Sleep(10);
    }
}

}  // namespace tarntest
