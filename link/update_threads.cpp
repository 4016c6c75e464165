#include "link/update_threads.h"

#include <system_error>
#include <utility>

namespace vantrel {

bool UpdateThreads::Start(std::function<void()> procedure) {
    ++m_running;
    try {
        m_threads.emplace_back([this, procedure = std::move(procedure)] {
            procedure();
            --m_running;
        });
    } catch (const std::system_error&) {
        --m_running;
        return false;
    }
    return true;
}

void UpdateThreads::Join() {
    for (std::thread& thread : m_threads) {
        if (thread.joinable()) thread.join();
    }
    m_threads.clear();
}

}  // namespace vantrel
