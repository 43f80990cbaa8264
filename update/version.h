// The version rule moved to support, where the installation reaches it too.
#pragma once

#include "support/version.h"
