#include "net/body_buffer.h"

#include <algorithm>
#include <cstring>

#include "net/body_memory.h"

namespace tarncore {
namespace bm = body_memory;

namespace {

std::size_t granules(std::size_t bytes) {
    return (bytes + bm::kGranule - 1) / bm::kGranule * bm::kGranule;
}

// Commits run ahead of the body by a sixteenth of it (at most 16 MiB): few
// calls, and at most about 1.06 times the body committed.
std::size_t commit_step(std::size_t held) {
    return std::clamp<std::size_t>(held / 16, bm::kGranule, std::size_t{16} << 20);
}

}  // namespace

BodyBuffer::~BodyBuffer() {
    if (base_ != nullptr) bm::release(base_, reserved_);
}

void BodyBuffer::swap(BodyBuffer& other) noexcept {
    std::swap(base_, other.base_);
    std::swap(size_, other.size_);
    std::swap(committed_, other.committed_);
    std::swap(reserved_, other.reserved_);
}

void BodyBuffer::clear() {
    BodyBuffer().swap(*this);
}

bool BodyBuffer::plan(std::size_t most) {
    const std::size_t bytes = granules(std::max<std::size_t>(most, 1));
    if (bytes <= reserved_) return true;
    char* base = bm::reserve(bytes);
    if (base == nullptr) return false;
    BodyBuffer bigger;
    bigger.base_ = base;
    bigger.reserved_ = bytes;
    if (size_ > 0) {
        // Only a body that outgrows its plan moves (a concatenation).
        if (!bigger.commit_through(size_)) return false;
        std::memcpy(base, base_, size_);
        bigger.size_ = size_;
    }
    swap(bigger);
    return true;
}

bool BodyBuffer::commit_through(std::size_t end) {
    if (end <= committed_) return true;
    const std::size_t target =
        std::min(reserved_, granules(std::max(end, committed_ + commit_step(end))));
    if (target < end || !bm::commit(base_ + committed_, target - committed_)) return false;
    committed_ = target;
    return true;
}

std::span<char> BodyBuffer::room(std::size_t want) {
    want = std::min(want, reserved_ - size_);
    if (want == 0 || !commit_through(size_ + want)) return {};
    return {base_ + size_, want};
}

void BodyBuffer::append(std::string_view bytes) {
    if (bytes.empty()) return;
    if (size_ + bytes.size() > reserved_ && !plan(std::max(size_ + bytes.size(), reserved_ * 2))) {
        throw std::bad_alloc();
    }
    std::span<char> into = room(bytes.size());
    if (into.size() < bytes.size()) throw std::bad_alloc();
    std::memcpy(into.data(), bytes.data(), bytes.size());
    size_ += bytes.size();
}

}  // namespace tarncore
