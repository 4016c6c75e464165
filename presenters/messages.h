#pragma once

namespace vantrel {

// The panel's message boxes that end a network command, on either link.
constexpr char kFinished[] = "Finish!";
constexpr char kFailed[] = "Fail!";

}  // namespace vantrel
