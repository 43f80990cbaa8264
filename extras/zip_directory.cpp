#include "extras/zip_directory.h"

#include <algorithm>
#include <fstream>
#include <string_view>

#include "extras/extras.h"

namespace tarncore::discordvoice {
namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kEnd64Signature = 0x06064b50;
constexpr std::uint32_t kEnd64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kEntrySignature = 0x02014b50;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kEntrySize = 46;
// The end record with the longest comment a zip can carry.
constexpr std::size_t kTailSize = kEndSize + 65535;
// Room for the entries the limit allows with long names; beyond it no
// archive of a tool is believable.
constexpr std::uint64_t kMaxDirectoryBytes = 64 << 20;

std::uint64_t le(std::string_view bytes, std::size_t at, int size) {
    std::uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i) {
        v = (v << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return v;
}

Error refused(const std::string& what) {
    return extras_error(kErrPolicy, "Archive " + what + "; not unpacked");
}

Error unreadable() {
    return refused("is not a zip file that can be read");
}

bool read_at(std::ifstream& file, std::uint64_t offset, std::size_t size, std::string& out) {
    out.assign(size, '\0');
    file.clear();
    file.seekg(static_cast<std::streamoff>(offset));
    return static_cast<bool>(file.read(out.data(), static_cast<std::streamsize>(size)));
}

// A name that would land outside the unpack folder, or on a drive or stream.
bool leaves_folder(std::string_view name) {
    if (name.empty() || name.front() == '/' || name.front() == '\\' ||
        name.find(':') != std::string_view::npos || name.find('\0') != std::string_view::npos) {
        return true;
    }
    while (!name.empty()) {
        const std::size_t end = name.find_first_of("/\\");
        if (name.substr(0, end) == "..") return true;
        if (end == std::string_view::npos) break;
        name.remove_prefix(end + 1);
    }
    return false;
}

bool is_link(std::uint64_t made_by, std::uint64_t attributes) {
    constexpr std::uint64_t kUnixHost = 3, kUnixTypeMask = 0170000, kUnixLink = 0120000;
    constexpr std::uint64_t kReparsePoint = 0x400;
    if ((made_by >> 8) == kUnixHost && ((attributes >> 16) & kUnixTypeMask) == kUnixLink) {
        return true;
    }
    return (attributes & kReparsePoint) != 0;
}

// The 64-bit sizes of an entry whose 32-bit fields hold 0xFFFFFFFF, in the
// order of the zip64 extra field: uncompressed, then compressed size.
std::uint64_t unpacked_size(std::string_view entry, std::size_t name_size, std::size_t extra_size) {
    std::uint64_t size = le(entry, 24, 4);
    if (size != 0xFFFFFFFF) return size;
    std::string_view extra = entry.substr(kEntrySize + name_size, extra_size);
    while (extra.size() >= 4) {
        const std::uint64_t id = le(extra, 0, 2), length = le(extra, 2, 2);
        if (length > extra.size() - 4) break;
        if (id == 0x0001 && length >= 8) return le(extra, 4, 8);
        extra.remove_prefix(4 + length);
    }
    return size;
}

}  // namespace

Error check_zip_archive(const Path& archive, const ZipLimits& limits) {
    std::ifstream file(archive, std::ios::binary);
    if (!file) return unreadable();
    file.seekg(0, std::ios::end);
    const auto file_size = static_cast<std::uint64_t>(file.tellg());
    if (file_size < kEndSize) return unreadable();
    const std::size_t tail_size =
        static_cast<std::size_t>(std::min<std::uint64_t>(file_size, kTailSize));
    std::string tail;
    if (!read_at(file, file_size - tail_size, tail_size, tail)) return unreadable();

    // The last end record whose comment reaches exactly to the end of the file.
    std::size_t end = std::string::npos;
    for (std::size_t at = tail_size - kEndSize + 1; at-- > 0;) {
        if (le(tail, at, 4) == kEndSignature && at + kEndSize + le(tail, at + 20, 2) == tail_size) {
            end = at;
            break;
        }
    }
    if (end == std::string::npos) return unreadable();
    std::uint64_t entries = le(tail, end + 10, 2);
    std::uint64_t directory_size = le(tail, end + 12, 4);
    std::uint64_t directory_offset = le(tail, end + 16, 4);
    if (entries == 0xFFFF || directory_size == 0xFFFFFFFF || directory_offset == 0xFFFFFFFF) {
        const std::uint64_t end_at = file_size - tail_size + end;
        std::string locator, record;
        if (end_at < 20 || !read_at(file, end_at - 20, 20, locator) ||
            le(locator, 0, 4) != kEnd64LocatorSignature ||
            !read_at(file, le(locator, 8, 8), 56, record) || le(record, 0, 4) != kEnd64Signature) {
            return unreadable();
        }
        entries = le(record, 32, 8);
        directory_size = le(record, 40, 8);
        directory_offset = le(record, 48, 8);
    }
    if (entries > limits.max_entries) {
        return refused("holds more than " + std::to_string(limits.max_entries) + " entries");
    }
    if (directory_size > kMaxDirectoryBytes || directory_offset > file_size ||
        directory_size > file_size - directory_offset) {
        return unreadable();
    }
    std::string directory;
    if (!read_at(file, directory_offset, static_cast<std::size_t>(directory_size), directory)) {
        return unreadable();
    }

    std::uint64_t unpacked = 0;
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < entries; ++i) {
        if (directory.size() - at < kEntrySize || le(directory, at, 4) != kEntrySignature) {
            return unreadable();
        }
        const std::string_view entry = std::string_view(directory).substr(at);
        const std::size_t name_size = le(entry, 28, 2), extra_size = le(entry, 30, 2),
                          comment_size = le(entry, 32, 2);
        const std::size_t entry_size = kEntrySize + name_size + extra_size + comment_size;
        if (entry.size() < entry_size) return unreadable();
        const std::string name(entry.substr(kEntrySize, name_size));
        if (is_link(le(entry, 4, 2), le(entry, 38, 4))) return refused("holds a link: " + name);
        if (leaves_folder(name)) return refused("holds a name outside its folder: " + name);
        const std::uint64_t size = unpacked_size(entry, name_size, extra_size);
        unpacked += std::min(size, limits.max_unpacked_bytes + 1);
        if (unpacked > limits.max_unpacked_bytes) {
            return refused("unpacks to more than " +
                           std::to_string(limits.max_unpacked_bytes >> 30) + " GiB");
        }
        at += entry_size;
    }
    return {};
}

}  // namespace tarncore::discordvoice
