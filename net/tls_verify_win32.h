// The Schannel engine's own check of the server certificate.
#pragma once

#include <cstdint>
#include <string_view>

#include "support/win32.h"

#include <wincrypt.h>

namespace tarncore {

/// The chain of cert (system trust, time) and then the SSL policy with host:
/// the package status to report, SEC_E_OK when the certificate is good.
std::int32_t check_server_chain(PCCERT_CONTEXT cert, std::string_view host);

}  // namespace tarncore
