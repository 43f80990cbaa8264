#include "tests/common/test_env.h"

#include "support/win32.h"
#include "tests/common/host_tools.h"

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
