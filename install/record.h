// config\install.json: which versions an install put in place, and when.
#pragma once

#include <string>

#include "support/error.h"
#include "support/layout.h"

namespace tarncore {

/// Writes the record in the pretty JSON form; one message whatever failed.
Error write_install_record(const Layout& layout);

/// The installed version ("version", else "runtime"); empty when the record is
/// missing, unreadable, not JSON, or has neither string member.
std::string read_installed_version(const Layout& layout);

}  // namespace tarncore
