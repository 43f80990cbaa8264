#include "tests/common/test_env.h"

#include <cstdlib>

#include "support/win32.h"
#include "tests/common/host_tools.h"

namespace tarntest {
namespace {

constexpr wchar_t kSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

bool set_setting(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    return RegSetKeyValueW(HKEY_CURRENT_USER, kSettings, name, type, data, size) == ERROR_SUCCESS;
}

bool set_text(const wchar_t* name, const std::string& text) {
    const std::wstring wide(text.begin(), text.end());
    return set_setting(name, REG_SZ, wide.c_str(),
                       static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

ScopedUserProxy::ScopedUserProxy(const std::string& server, const std::string& bypass) {
    const DWORD on = 1;
    available_ = set_setting(L"ProxyEnable", REG_DWORD, &on, sizeof(on)) &&
                 set_text(L"ProxyServer", server) && set_text(L"ProxyOverride", bypass);
}

ScopedUserProxy::~ScopedUserProxy() {
    const DWORD off = 0;
    (void)set_setting(L"ProxyEnable", REG_DWORD, &off, sizeof(off));
    for (const wchar_t* name : {L"ProxyServer", L"ProxyOverride"}) {
        (void)RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettings, name);
    }
}

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
    const std::string host = unix_path(path);
    if (host.empty()) return;  // real Windows: nothing to do without ACLs
    (void)run_host_program({"/bin/chmod", read_only ? "a-w" : "u+w", host});
}

bool make_link(const Path& link, const Path& target) {
    const std::string parent = unix_path(link.parent_path()), host_target = unix_path(target);
    if (parent.empty() || host_target.empty()) {
        const DWORD folder = GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_DIRECTORY;
        return CreateSymbolicLinkW(link.c_str(), target.c_str(),
                                   folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) != 0;
    }
    const std::string host_link = parent + "/" + tarncore::path_text(link.filename());
    return run_host_program({"/bin/ln", "-s", host_target, host_link}) == 0;
}

}  // namespace tarntest
