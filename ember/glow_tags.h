#pragma once

#include <cstdint>

// The Glow schema's application tags, shared by its encoder and decoder.
namespace vantrel::ember::glow_tag {
constexpr std::uint32_t kRoot = 0;
constexpr std::uint32_t kParameter = 1;
constexpr std::uint32_t kCommand = 2;
constexpr std::uint32_t kNode = 3;
constexpr std::uint32_t kElementCollection = 4;
constexpr std::uint32_t kQualifiedParameter = 9;
constexpr std::uint32_t kQualifiedNode = 10;
constexpr std::uint32_t kRootElementCollection = 11;
constexpr std::uint32_t kFunction = 19;
constexpr std::uint32_t kQualifiedFunction = 20;
constexpr std::uint32_t kTupleItemDescription = 21;
constexpr std::uint32_t kInvocation = 22;
constexpr std::uint32_t kInvocationResult = 23;
}  // namespace vantrel::ember::glow_tag
