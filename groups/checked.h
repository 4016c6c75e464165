#pragma once

#include <optional>
#include <utility>

namespace vantrel::groups {

/// A value, or the reason there is none: what a file, a selector or a person gave, checked.
/// Unlike the unit's Result, no part of the value comes with a failure.
template <typename T, typename Error>
class Checked {
  public:
    Checked(T value) : m_value(std::move(value)) {}
    Checked(Error error) : m_error(std::move(error)) {}

    bool Ok() const { return m_value.has_value(); }
    const T& Value() const { return *m_value; }
    T& Value() { return *m_value; }
    const Error& GetError() const { return *m_error; }

  private:
    std::optional<T> m_value;
    std::optional<Error> m_error;
};

}  // namespace vantrel::groups
