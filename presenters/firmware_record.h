#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "firmware/progress.h"
#include "unit/byte_stream.h"

namespace vantrel {

/// What the firmware dialog owns and its update threads share with it. The dialog outlives
/// every procedure that uses it.
struct FirmwareRecord {
    /// The session's console stream, used while the session idles; null when none was given.
    ByteStream* stream = nullptr;
    /// The selected COM port's number; -1 when the list has no selection.
    std::int32_t comPort = -1;
    /// 1 when no network session ran when the dialog opened.
    std::int32_t linkDown = 1;
    /// The session's lock on the stream, which an update through it holds while it runs, and
    /// its link flag as it is now (1: no session); null where no session stands behind.
    std::mutex* streamUse = nullptr;
    const std::atomic<std::int32_t>* sessionDown = nullptr;
    /// 1 when the panel's link is the network.
    std::uint8_t linkMode = 0;
    /// Stop requests, written by the dialog's Stop buttons and read by the procedures between
    /// frames. The net group's starts set, as its Stop has nothing to stop until Burn clears it.
    firmware::StopFlag netStop{1};
    firmware::StopFlag mainStop{0};
    /// The files the groups' next updates read; a group's Burn stays disabled while its update
    /// runs, so only that update's thread reads its file's name meanwhile.
    std::string mainFile;
    std::string netFile;
    /// Held by whoever uses the dialog's serial port (a procedure, or Break while it opens
    /// the port), so that two of them never use it at once.
    std::mutex portLock;
};

constexpr std::uint8_t kLinkNetwork = 1;

}  // namespace vantrel
