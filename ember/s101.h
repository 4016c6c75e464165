#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "ember/ber.h"

namespace vantrel::ember {

/// The CRC-CCITT that S101 frames carry (reflected, polynomial 0x8408, starting at 0xFFFF);
/// the frame holds its complement, low byte first.
std::uint16_t Crc16(const std::uint8_t* data, std::size_t size);

/// What an S101 message is.
enum class S101Kind : std::uint8_t { kEmber, kKeepAliveRequest, kKeepAliveResponse };

/// One S101 message: a keep-alive, or a Glow packet (a whole BER message once the packets of a
/// multi-packet message have been joined).
struct S101Message {
    S101Kind kind = S101Kind::kEmber;
    Bytes glow;
};

/// The frame of a message: escaped, its CRC appended, between the frame's start and end bytes.
/// A Glow message is sent as one packet.
Bytes EncodeS101(const S101Message& message);

/// Takes a byte stream as it comes and gives the messages it holds. A frame that fails its
/// CRC, escaping or header is a failure; so is a message longer than the limit.
class S101Decoder {
  public:
    explicit S101Decoder(std::size_t mostBytes = 1 << 20) : m_mostBytes(mostBytes) {}

    /// Feeds bytes; `message` is called with each message completed. Stops at the first
    /// malformed frame and returns its failure; after that the stream cannot be trusted.
    template <typename OnMessage>
    Outcome Feed(const std::uint8_t* data, std::size_t size, OnMessage&& message) {
        for (std::size_t i = 0; i < size; ++i) {
            Result<std::optional<S101Message>> step = Step(data[i]);
            if (!step.Ok()) return step.GetFailure();
            if (step.Value()) message(std::move(*step.Value()));
        }
        return {};
    }

  private:
    Result<std::optional<S101Message>> Step(std::uint8_t byte);
    Result<std::optional<S101Message>> EndFrame();

    const std::size_t m_mostBytes;
    bool m_inFrame = false;
    bool m_escaped = false;
    Bytes m_frame;    // the unescaped bytes of the frame being read
    Bytes m_message;  // the Glow bytes of a multi-packet message so far
    bool m_inMessage = false;
};

}  // namespace vantrel::ember
