#pragma once

#include <sanitizer/asan_interface.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

namespace vantrel::fuzzing {

/// Ends the run as a crash, so that libFuzzer keeps the input that broke a promise of the code.
inline void Require(bool holds, const char* promise) {
    if (holds) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", promise);
    std::abort();
}

/// Makes the bytes of a receive buffer that the last receive did not fill unreadable, so that
/// AddressSanitizer stops any parser that looks past what came in.
inline void PoisonUnreceived(void* buffer, std::size_t received, std::size_t capacity) {
    if (received < capacity) {
        ASAN_POISON_MEMORY_REGION(static_cast<char*>(buffer) + received, capacity - received);
    }
}

inline void Unpoison(void* buffer, std::size_t capacity) {
    ASAN_UNPOISON_MEMORY_REGION(buffer, capacity);
}

}  // namespace vantrel::fuzzing
