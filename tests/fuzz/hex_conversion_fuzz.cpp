// The HEX converters on any file text. The slot's buffer is exactly the file's size, so a read
// or write outside it is a heap overflow; a converted image must lie inside the buffer.
#include <cstddef>
#include <cstdint>

#include "firmware/hex_conversion.h"
#include "tests/fuzz/fuzz_check.h"

namespace vantrel::fuzzing {
namespace {

void Convert(const std::uint8_t* data, std::size_t size, bool (*convert)(firmware::ImageSlot&)) {
    firmware::ImageSlot slot;
    slot.buffer.assign(data, data + size);
    slot.length = static_cast<std::int32_t>(size);
    if (!convert(slot)) return;
    Require(slot.length >= 0 && static_cast<std::size_t>(slot.length) <= size,
            "a converted image fits the file's size");
    Require(slot.buffer.size() == size, "the image is built in the file's buffer");
    for (std::size_t i = static_cast<std::size_t>(slot.length); i < size; ++i) {
        Require(slot.buffer[i] == 0, "nothing is written past the image's end");
    }
}

}  // namespace
}  // namespace vantrel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) return 0;
    vantrel::fuzzing::Convert(data, size, vantrel::firmware::ConvertMainHex);
    vantrel::fuzzing::Convert(data, size, vantrel::firmware::ConvertNetHex);
    return 0;
}
