#pragma once

#include <functional>
#include <thread>
#include <vector>

namespace vantrel {

/// The firmware dialog's update threads. Each procedure runs on a thread of its own; the
/// dialog waits for them before its record goes away. Start and Join are called from the
/// dialog's thread only.
class UpdateThreads {
  public:
    UpdateThreads() = default;
    ~UpdateThreads() { Join(); }
    UpdateThreads(const UpdateThreads&) = delete;
    UpdateThreads& operator=(const UpdateThreads&) = delete;

    /// False when no thread could be started; the procedure then did not run.
    bool Start(std::function<void()> procedure);
    /// Waits until every procedure started has returned.
    void Join();

  private:
    std::vector<std::thread> m_threads;
};

}  // namespace vantrel
