// The Lua library carried inside the setup, generated at build time from
// payload/lua/ (see gen_module_table.py).
#pragma once

#include <cstddef>

namespace tarncore {

struct ModuleEntry {
    const char* name;    // the name Lua code passes to require
    const char* path;    // relative to the modules folder, '/' separators
    const char* source;  // complete source text, NUL-terminated
};

constexpr std::size_t kModuleCount = 98;
extern const ModuleEntry kModuleTable[kModuleCount];

}  // namespace tarncore
