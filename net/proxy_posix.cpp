// No system-wide proxy setting to read here: the environment alone decides.
#include "net/proxy.h"

namespace tarncore {

SystemProxySetting system_proxy_setting() {
    return {};
}

}  // namespace tarncore
