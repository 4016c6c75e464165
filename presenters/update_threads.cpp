#include "presenters/update_threads.h"

#include <system_error>
#include <utility>

namespace vantrel {

bool UpdateThreads::Start(std::function<void()> procedure) {
    try {
        m_threads.emplace_back(std::move(procedure));
    } catch (const std::system_error&) {
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
