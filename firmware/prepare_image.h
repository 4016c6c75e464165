#pragma once

#include "firmware/firmware_record.h"
#include "firmware/firmware_view.h"
#include "unit/outcome.h"

namespace vantrel::firmware {

enum class PrepareResult : std::uint8_t {
    Ready,
    /// The file cannot be opened (also when none was chosen).
    NoFile,
    /// The file has 256 bytes or less: no image is built from it.
    TooSmall,
    ConversionFailed,
};

/// Reads the slot's file into a new buffer and, when it starts with ':', converts it from
/// Intel HEX with the controller's converter. Shows the file's size in the group's size text.
/// On any result but Ready the procedures leave the slot's buffer alone.
PrepareResult PrepareImage(ImageSlot& slot, Controller controller, FirmwareView& view);

/// The status text that reports a result other than Ready.
const char* PrepareFailureText(PrepareResult result);

/// A result other than Ready as the procedures report it: no image, with its status text.
Failure PrepareFailure(PrepareResult result);

}  // namespace vantrel::firmware
