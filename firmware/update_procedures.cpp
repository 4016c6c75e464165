#include "firmware/update_procedures.h"

#include "firmware/bootloader_protocol.h"
#include "firmware/loader_port.h"
#include "firmware/net_flash.h"

namespace vantrel::firmware {

Outcome UpdateMain(LoaderLink& link, Clock& clock, const Image& image, const ProgressSink& progress,
                   const StopFlag& stop) {
    if (Outcome entered = link.Enter(clock, progress); !entered.Ok()) return entered;
    const auto total = static_cast<std::int64_t>(image.bytes.size());
    Report(progress, Phase::kErasing, 0, total);
    if (Outcome started = StartDownload(link, clock, static_cast<std::uint32_t>(total));
        !started.Ok()) {
        return started;
    }
    return SendImage(link, clock, link.Pauses(), image.bytes, progress, stop);
}

Outcome UpdateNet(SerialDevice& port, Clock& clock, const Image& image,
                  const ProgressSink& progress, const StopFlag& stop) {
    SetLoaderTimeouts(port);
    return WriteNetFlash(port, clock, image.bytes, progress, stop);
}

}  // namespace vantrel::firmware
