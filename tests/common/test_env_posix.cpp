#include "tests/common/test_env.h"

#include <unistd.h>

namespace tarntest {

Path host_path(const std::string& unix_path) {
    return Path(unix_path);
}

Path test_tool(const std::string& name) {
    return host_path(std::string(TARN_TEST_TOOLS_DIR) + "/" + name);
}

// The permission bits set_read_only changed already do the job.
void set_folder_read_only(const Path&, bool) {}

bool make_link(const Path& link, const Path& target) {
    return ::symlink(target.c_str(), link.c_str()) == 0;
}

}  // namespace tarntest
