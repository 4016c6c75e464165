#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace vantrel::firmware {

/// Where an update stands. Entering counts the steps that start the loader; the others count
/// bytes of the image.
enum class Phase : std::uint8_t { kEntering, kErasing, kWriting, kFinishing };

struct Progress {
    Phase phase = Phase::kEntering;
    std::int64_t done = 0;
    std::int64_t total = 0;
};

/// Told of each step as the update takes it, on the update's thread.
using ProgressSink = std::function<void(const Progress&)>;

/// Set (non-zero) by another thread to end an update between packets or frames.
using StopFlag = std::atomic<std::int32_t>;

inline void Report(const ProgressSink& sink, Phase phase, std::int64_t done, std::int64_t total) {
    if (sink) sink(Progress{phase, done, total});
}

}  // namespace vantrel::firmware
