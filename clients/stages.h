#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>

namespace vantrel::clients {

/// How the units of one command to many (a firmware update) are started, the same for the
/// tool and the gateway: the first `canary` units alone, and the rest only once every one of
/// them is done; once `maxFailures` units have failed no more begin, and those already running
/// finish. A unit held back ends "not started".
struct Stages {
    std::size_t canary = 0;                  // 0: all begin together
    std::optional<std::size_t> maxFailures;  // none: failures stop nothing

    /// How many of `units` begin first: the canary units, or all of them.
    std::size_t FirstStage(std::size_t units) const {
        return canary > 0 ? std::min(canary, units) : units;
    }
    /// Once the first stage has ended with `notDone` of its units not done: whether the rest
    /// begin.
    static bool RestBegins(std::size_t notDone) { return notDone == 0; }
    /// Whether a unit whose turn comes after `failures` have failed begins.
    bool Begins(std::size_t failures) const { return !maxFailures || failures < *maxFailures; }
};

}  // namespace vantrel::clients
