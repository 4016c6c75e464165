#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "unit/byte_stream.h"

namespace vantrel::firmware {

/// One controller's firmware: the file the user chose and the image built from it when an
/// update starts.
struct ImageSlot {
    std::string path;
    /// As large as the file; empty while there is no image. A HEX file's image is built in
    /// place, so only the first `length` bytes are the image.
    std::vector<std::uint8_t> buffer;
    std::int32_t length = 0;
};

enum class Controller : std::uint8_t { Main, Net };

/// The firmware dialog's state that the procedures share with it. The dialog owns the record
/// and outlives every procedure that uses it.
struct FirmwareRecord {
    /// The session's console stream, used while the session idles; null when none was given.
    ByteStream* stream = nullptr;
    /// The selected COM port's number; -1 when the list has no selection.
    std::int32_t comPort = -1;
    /// 1 when no network session ran when the dialog opened.
    std::int32_t linkDown = 1;
    /// 1 when the panel's link is the network.
    std::uint8_t linkMode = 0;
    /// Stop requests, written by the dialog's buttons and read by the procedures between frames.
    std::atomic<std::uint8_t> netStop{1};
    std::atomic<std::uint8_t> mainStop{0};
    ImageSlot mainImage;
    ImageSlot netImage;
    /// Held by whoever uses the dialog's serial port (a procedure, or Break while it opens
    /// the port), so that two of them never use it at once.
    std::mutex portLock;
};

constexpr std::uint8_t kLinkNetwork = 1;

}  // namespace vantrel::firmware
