#include "tests/common/test_env.h"

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

}  // namespace tarntest
