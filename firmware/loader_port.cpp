#include "firmware/loader_port.h"

namespace vantrel::firmware {
namespace {
constexpr std::int32_t kHighestComPort = 255;
}

bool NamesComPort(std::int32_t comPort) { return comPort >= 0 && comPort <= kHighestComPort; }

bool OpenLoaderPort(SerialDevice& port, std::int32_t comPort, std::uint32_t baudRate) {
    if (!NamesComPort(comPort)) return false;
    return port.Open(static_cast<std::uint32_t>(comPort), baudRate, ParityCode::None, 8,
                     StopBitsCode::One, FlowControlCode::None, false) != kInvalidPort;
}

void SetLoaderTimeouts(SerialDevice& port) {
    SerialTimeouts timeouts;
    port.GetTimeouts(&timeouts);
    timeouts.readIntervalTimeout = kLoaderByteGapMs;
    timeouts.readTotalTimeoutMultiplier = kLoaderReplyPerByteMs;
    timeouts.readTotalTimeoutConstant = kLoaderReplyMs;
    port.SetTimeouts(timeouts);
}

void HoldLineInBreak(SerialDevice& port) {
    port.SetRts();
    port.ClearDtr();
    port.Flush();
    port.SetBreak();
}

}  // namespace vantrel::firmware
