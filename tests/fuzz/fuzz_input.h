#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

namespace vantrel::fuzzing {

/// The fuzz input read front to back by one cursor: the fakes take the unit's replies from
/// it and the drivers take their next step from it, in the order they happen.
class FuzzInput {
  public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_pos == m_size; }

    std::optional<std::uint8_t> Byte() {
        if (Empty()) return std::nullopt;
        return m_data[m_pos++];
    }

    /// The next byte, or `fallback` when the input is used up.
    std::uint8_t ByteOr(std::uint8_t fallback) { return Byte().value_or(fallback); }

    /// The next four bytes as a big-endian value; missing bytes count as 0.
    std::uint32_t Word() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | ByteOr(0);
        return value;
    }

    /// Copies up to count bytes into out; fewer when the input runs out.
    std::size_t Take(void* out, std::size_t count) {
        const std::size_t n = std::min(count, m_size - m_pos);
        if (n > 0) std::memcpy(out, m_data + m_pos, n);
        m_pos += n;
        return n;
    }

  private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

}  // namespace vantrel::fuzzing
