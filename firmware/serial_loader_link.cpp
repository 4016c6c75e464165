#include "firmware/serial_loader_link.h"

#include "firmware/loader_port.h"
#include "unit/serial_exchanges.h"

namespace vantrel::firmware {

bool SerialLoaderLink::IsOpen() const { return m_port.IsOpen(); }

Outcome SerialLoaderLink::Enter(Clock& clock, const ProgressSink& progress) {
    Report(progress, Phase::kEntering, 0, 1);
    // Nothing answers the entry frame; the loader's silence shows at the Ping.
    EnterLoader(m_port, clock);
    SetLoaderTimeouts(m_port);
    return {};
}

bool SerialLoaderLink::Write(const void* data, std::uint32_t count) {
    return m_port.Write(data, count) == static_cast<int>(count);
}

std::uint32_t SerialLoaderLink::Read(void* buffer, std::uint32_t count) {
    const int got = m_port.Read(buffer, count);
    return got > 0 ? static_cast<std::uint32_t>(got) : 0;
}

}  // namespace vantrel::firmware
