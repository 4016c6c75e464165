// The Ember+ codec on bytes as any client could send them: the S101 decoder over the stream,
// in two pieces, and the Glow decoder over each message and over the raw bytes. A message that
// decodes must encode to bytes that decode to the same encoding.
#include <cstddef>
#include <cstdint>

#include "ember/glow.h"
#include "ember/s101.h"
#include "tests/fuzz/fuzz_check.h"

namespace vantrel::fuzzing {
namespace {

void Glow(const ember::Bytes& bytes) {
    ember::Result<ember::Root> root = ember::DecodeGlow(bytes);
    if (!root.Ok()) {
        Require(root.Text()[0] != '\0', "a failure says what was wrong");
        return;
    }
    const ember::Bytes once = ember::EncodeGlow(root.Value());
    ember::Result<ember::Root> again = ember::DecodeGlow(once);
    Require(again.Ok(), "what the encoder writes decodes");
    Require(ember::EncodeGlow(again.Value()) == once, "decoding and encoding again is stable");
}

}  // namespace
}  // namespace vantrel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16)) return 0;
    using namespace vantrel;
    ember::S101Decoder decoder(4096);
    const std::size_t split = size == 0 ? 0 : data[0] % size;
    auto onMessage = [](ember::S101Message message) {
        if (message.kind == ember::S101Kind::kEmber) fuzzing::Glow(message.glow);
        fuzzing::Require(message.kind == ember::S101Kind::kEmber || message.glow.empty(),
                         "a keep-alive carries nothing");
    };
    const ember::Outcome first = decoder.Feed(data, split, onMessage);
    if (first.Ok()) decoder.Feed(data + split, size - split, onMessage);
    fuzzing::Glow(ember::Bytes(data, data + size));
    return 0;
}
