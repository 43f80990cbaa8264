// Where the per-user PATH string lives: HKCU\Environment\Path on Windows, a
// text file under the user's config folder on POSIX (development stand-in).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "support/system.h"

namespace tarncore {

inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
/// The longest user PATH written, in characters: what an environment
/// variable can hold.
inline constexpr std::size_t kMaxUserPathLength = 32767;

/// The stored value with trailing NULs removed; type 0 when it is missing.
struct UserPathValue {
    NativeString data;
    std::uint32_t type = 0;
};

class UserPathStore {
public:
    virtual ~UserPathStore() = default;
    virtual bool open() = 0;
    /// A failed read counts as a missing value.
    virtual UserPathValue read() = 0;
    virtual bool write(const NativeString& data, std::uint32_t type) = 0;
    /// Deletes the value; a missing one counts as deleted.
    virtual bool erase() = 0;
    virtual void close() = 0;
    /// Tells running programs that the user environment changed.
    virtual void broadcast() = 0;
};

std::unique_ptr<UserPathStore> make_user_path_store();

}  // namespace tarncore
