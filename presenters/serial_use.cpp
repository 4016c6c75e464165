#include "presenters/serial_use.h"

namespace vantrel {
namespace {
constexpr Clock::Duration kPollWaitStep{30};
}

void WaitWhileStatusPoll(const std::uint8_t& serialState, Clock& clock) {
    while (serialState == kSerialPolling) clock.Sleep(kPollWaitStep);
}

bool BeginStatusPoll(std::uint8_t& serialState) {
    if (serialState == kSerialCommand) return false;
    serialState = kSerialPolling;
    return true;
}

}  // namespace vantrel
