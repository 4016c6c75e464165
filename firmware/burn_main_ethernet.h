#pragma once

#include "firmware/firmware_record.h"
#include "firmware/firmware_view.h"
#include "unit/clock.h"
#include "unit/outcome.h"

namespace vantrel::firmware {

/// Updates the main controller through the session's console stream: "FWUPDATE", the loader
/// entry frame, then the same packets as over the COM port without their pauses. Runs only
/// while the session idles (the dialog pauses its poll), so no other thread uses the stream.
/// Reports in the main group's status text and enables its Burn button when it ends. The body
/// of the dialog's BurnMainEthernetThread; the stream stays open. Done only when the loader
/// acknowledged every packet; a failure carries the text it showed.
Outcome BurnMainEthernet(FirmwareRecord& record, Clock& clock, FirmwareView& view);

}  // namespace vantrel::firmware
