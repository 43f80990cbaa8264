#include "tests/common/test_env.h"

#include <cstdlib>
#include <functional>

#include "support/win32.h"
#include "tests/common/child_process.h"

namespace tarntest {
namespace {

// The Unix name of a Windows path under Wine; empty on real Windows.
std::string unix_name(const Path& path) {
    using UnixName = char*(__cdecl*)(const wchar_t*);
    auto to_unix = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = to_unix ? to_unix(path.c_str()) : nullptr;
    if (name == nullptr) return {};
    std::string host(name);
    HeapFree(GetProcessHeap(), 0, name);
    return host;
}

// Runs a host program; the handle of a host program can signal before the
// program has run, so wait until `done` shows its effect.
bool run_host(const std::string& program, const std::vector<std::string>& args,
              const std::function<bool()>& done) {
    ChildProcess child;
    if (!child.start(host_path(program), args)) return false;
    for (int i = 0; i < 500; ++i) {
        if (done()) return true;
        Sleep(10);
    }
    return false;
}

}  // namespace

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

Path null_device() {
    return L"NUL";
}

void set_folder_read_only(const Path& path, bool read_only) {
    const std::string host = unix_name(path);
    if (host.empty()) return;  // real Windows: nothing to do without ACLs
    const Path probe = path / L"tarnwick-probe.tmp";
    (void)run_host("/bin/chmod", {read_only ? "a-w" : "u+w", host}, [&] {
        HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        const bool writable = h != INVALID_HANDLE_VALUE;
        if (writable) CloseHandle(h);
        return writable != read_only;
    });
}

bool make_link(const Path& link, const Path& target) {
    const std::string parent = unix_name(link.parent_path()), host_target = unix_name(target);
    if (parent.empty() || host_target.empty()) {
        const DWORD folder = GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_DIRECTORY;
        return CreateSymbolicLinkW(link.c_str(), target.c_str(),
                                   folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) != 0;
    }
    const std::string host_link = parent + "/" + tarncore::path_text(link.filename());
    return run_host("/bin/ln", {"-s", host_target, host_link},
                    [&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; });
}

}  // namespace tarntest
