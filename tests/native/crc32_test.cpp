#include "firmware/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace vantrel::firmware {
namespace crc32_test {
namespace {

// zlib is the reference; the Windows build has none, so the program carries its own table.
TEST(Crc32Test, AgreesWithZlibOnAnySizeAndWhenContinued) {
    std::mt19937 random(12);
    for (std::size_t size : {0u, 1u, 3u, 255u, 256u, 4097u, 131072u}) {
        std::vector<std::uint8_t> bytes(size);
        for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(random());
        const uLong expected = crc32(0L, bytes.data(), static_cast<uInt>(bytes.size()));
        EXPECT_EQ(Crc32(bytes.data(), bytes.size()), expected) << size;
        const std::size_t half = size / 3;
        EXPECT_EQ(Crc32(bytes.data() + half, size - half, Crc32(bytes.data(), half)), expected)
            << size;
    }
}

}  // namespace
}  // namespace crc32_test
}  // namespace vantrel::firmware
