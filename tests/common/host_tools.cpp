#include "tests/common/host_tools.h"

namespace tarntest {

bool make_zip(const tarncore::Path& folder, const tarncore::Path& zip) {
    return run_host_program({"/usr/bin/bsdtar", "--format", "zip", "-cf", unix_path(zip), "-C",
                             unix_path(folder), "."}) == 0;
}

}  // namespace tarntest
