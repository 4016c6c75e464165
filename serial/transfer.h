#pragma once

namespace vantrel {

/// How both transports to the unit, the COM port (SerialDevice) and the console connection
/// (ByteStream), report: a call that moves bytes returns how many it moved, or
/// kTransferFailed when the line failed (a system error, or a port or socket that is not
/// open; a stream's receive also when nothing came within its time limit). A call that moves
/// no bytes returns true when it was done.
constexpr int kTransferFailed = -1;

}  // namespace vantrel
