#include "firmware/dialog_port.h"

namespace vantrel::firmware {
namespace {

constexpr std::int32_t kHighestComPort = 255;

bool NamesComPort(std::int32_t comPort) { return comPort >= 0 && comPort <= kHighestComPort; }

}  // namespace

bool OpenDialogPort(SerialDevice& port, std::int32_t comPort, std::uint32_t baudRate) {
    if (!NamesComPort(comPort)) return false;
    return port.Open(static_cast<std::uint32_t>(comPort), baudRate, ParityCode::None, 8,
                     StopBitsCode::One, FlowControlCode::None, false) != kInvalidPort;
}

bool PortOccupied(SerialDevice& port, std::int32_t comPort, std::uint32_t baudRate) {
    if (port.IsOpen()) return true;
    if (!NamesComPort(comPort)) return false;
    if (!OpenDialogPort(port, comPort, baudRate)) return port.OpenRefused();
    port.Close();
    return false;
}

void SetLoaderTimeouts(SerialDevice& port) {
    SerialTimeouts timeouts;
    port.GetTimeouts(&timeouts);
    timeouts.readIntervalTimeout = kLoaderByteGapMs;
    timeouts.readTotalTimeoutMultiplier = kLoaderReplyPerByteMs;
    timeouts.readTotalTimeoutConstant = kLoaderReplyMs;
    port.SetTimeouts(timeouts);
}

}  // namespace vantrel::firmware
