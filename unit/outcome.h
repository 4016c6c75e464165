#pragma once

#include <cstdint>
#include <utility>

namespace vantrel {

/// Why an exchange with the unit did not get done.
enum class Fault : std::uint8_t {
    kNone,             // done
    kNothingReceived,  // no reply: the unit stayed silent past its time limit, or the link broke
    kBadReply,         // a reply came but failed its check: short, a wrong header, not a value
    kSendFailed,       // the request could not be sent
    kNotOpened,        // the COM port did not open, or the console connection was not made
    kStopped,          // stopped by the user or by the link going down
    kRefused,          // the unit answered, refusing (a loader's negative acknowledgement)
    kNoFile,           // a firmware file that cannot be read: nothing was sent
    kBadImage,         // a firmware file that is not an image: nothing was sent
    kImageTooShort,    // a firmware image too short for the loader to take
    kImageTooLarge,    // a firmware image larger than the controller's flash takes
    kLoginRefused,     // the console's first status read after the login got no status block
    kClosedAtLogin,    // the unit closed the console connection during the login
};

/// A few words for a fault, for the tool's and the service's reports and logs.
const char* FaultName(Fault fault);

/// A failure: its kind and, where the system has one, its own text for it ("Fail!").
struct Failure {
    Fault fault = Fault::kNone;
    const char* text = "";
};

/// Where there is nothing to read back.
struct Nothing {};

/// What an exchange with the unit came to: done, or a failure, and in either case whatever it
/// read (a failed read keeps the replies that passed before it). The one result type of every
/// exchange; no client decides an outcome from a text meant for a person.
template <typename T = Nothing>
class Result {
  public:
    Result() = default;
    Result(T value) : m_value(std::move(value)) {}
    Result(Failure failure) : m_failure(failure) {}
    Result(Failure failure, T partial) : m_failure(failure), m_value(std::move(partial)) {}

    bool Ok() const { return m_failure.fault == Fault::kNone; }
    Fault GetFault() const { return m_failure.fault; }
    /// The system's own text for the failure; "" when done or when it has none.
    const char* Text() const { return m_failure.text; }
    const Failure& GetFailure() const { return m_failure; }
    const T& Value() const { return m_value; }
    T& Value() { return m_value; }

  private:
    Failure m_failure;
    T m_value{};
};

using Outcome = Result<>;

}  // namespace vantrel
