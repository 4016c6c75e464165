#pragma once

#include "firmware/image.h"
#include "firmware/loader_link.h"
#include "firmware/progress.h"
#include "serial/serial_device.h"
#include "unit/clock.h"
#include "unit/outcome.h"

namespace vantrel::firmware {

// The update procedures, whoever runs them (the firmware dialog, the tool, the gateway). They
// report steps as data and end with an outcome: done only when the loader acknowledged or
// answered every packet or frame.

/// The main controller over a loader link (the COM port at 115200 baud, or the console's
/// stream while nothing else uses it): enters the loader, then Ping and Download (kErasing:
/// the loader erases as it takes Download) and the image in packets.
Outcome UpdateMain(LoaderLink& link, Clock& clock, const Image& image, const ProgressSink& progress,
                   const StopFlag& stop);

/// The net controller over its serial port, open at 19200 baud once the unit was power-cycled
/// with the line in break: the loader's time-outs, the erase and the image in frames.
Outcome UpdateNet(SerialDevice& port, Clock& clock, const Image& image,
                  const ProgressSink& progress, const StopFlag& stop);

}  // namespace vantrel::firmware
