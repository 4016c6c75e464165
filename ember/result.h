#pragma once

#include <utility>

namespace vantrel::ember {

/// Why the codec refused its bytes: a fixed text that says what was wrong. The codec has one
/// kind of failure, malformed input, so the text is all it carries; whoever serves the bytes
/// decides what a refusal means to its peer.
struct Failure {
    const char* why = nullptr;
};

/// Where there is nothing to read back.
struct Nothing {};

/// What a decoding step came to: its value, or the failure that stopped it.
template <typename T = Nothing>
class Result {
  public:
    Result() = default;
    Result(T value) : m_value(std::move(value)) {}
    Result(Failure failure) : m_failure(failure) {}

    bool Ok() const { return m_failure.why == nullptr; }
    /// What was wrong; "" when done.
    const char* Text() const { return Ok() ? "" : m_failure.why; }
    const Failure& GetFailure() const { return m_failure; }
    const T& Value() const { return m_value; }
    T& Value() { return m_value; }

  private:
    Failure m_failure;
    T m_value{};
};

using Outcome = Result<>;

/// Bytes refused, with what was wrong with them.
inline Failure Malformed(const char* why) { return {why}; }

}  // namespace vantrel::ember
