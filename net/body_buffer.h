// A response body held in memory. It reserves address space for the most it
// may hold and commits pages as bytes arrive, so receives land in place, the
// body never moves while it grows, and it commits about what it holds.
#pragma once

#include <cstddef>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace tarncore {

class BodyBuffer {
public:
    BodyBuffer() = default;
    BodyBuffer(std::string_view bytes) { append(bytes); }  // NOLINT(google-explicit-constructor)
    BodyBuffer(const std::string& bytes) : BodyBuffer(std::string_view(bytes)) {}  // NOLINT
    BodyBuffer(const char* text) : BodyBuffer(std::string_view(text)) {}           // NOLINT
    BodyBuffer(const BodyBuffer& other) : BodyBuffer(other.view()) {}
    BodyBuffer(BodyBuffer&& other) noexcept { swap(other); }
    BodyBuffer& operator=(BodyBuffer other) noexcept {
        swap(other);
        return *this;
    }
    ~BodyBuffer();

    const char* data() const { return base_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::string_view view() const { return {base_, size_}; }
    operator std::string_view() const { return view(); }  // NOLINT(google-explicit-constructor)
    std::string str() const { return std::string(view()); }

    /// Reserves room for `most` bytes in all before any arrive, so the body
    /// grows in place up to there; false when the system refuses the space.
    bool plan(std::size_t most);
    /// Committed room right after the body, up to `want` bytes (fewer at the
    /// planned end; empty when memory cannot be committed).
    std::span<char> room(std::size_t want);
    /// The first n bytes of the last room are now body.
    void grow(std::size_t n) { size_ += n; }
    void append(std::string_view bytes);
    void truncate(std::size_t size) {
        if (size < size_) size_ = size;
    }
    void clear();
    void swap(BodyBuffer& other) noexcept;

    friend bool operator==(const BodyBuffer& a, std::string_view b) { return a.view() == b; }
    friend std::string operator+(std::string a, const BodyBuffer& b) { return a.append(b.view()); }
    friend std::string operator+(const BodyBuffer& a, std::string_view b) {
        return a.str().append(b);
    }
    friend std::ostream& operator<<(std::ostream& out, const BodyBuffer& b) {
        return out << b.view();
    }

private:
    bool commit_through(std::size_t end);

    char* base_ = nullptr;
    std::size_t size_ = 0;
    std::size_t committed_ = 0;
    std::size_t reserved_ = 0;
};

}  // namespace tarncore
