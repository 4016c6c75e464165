#pragma once

#include <nlohmann/json.hpp>

namespace vantrel::gateway {

/// A job as another gateway published it (JOB), once that gateway is gone before the job
/// finished: each unit whose update had not ended is `interrupted`, with what it needs next in
/// `needs` and, for a person, in `error`; the units that had ended keep their outcome. The job
/// is `interrupted` and never `finished`, so that nobody reads it as done.
nlohmann::json InterruptedJob(nlohmann::json job);

}  // namespace vantrel::gateway
