#include "ember/s101.h"

namespace vantrel::ember {
namespace {

constexpr std::uint8_t kBof = 0xFE;
constexpr std::uint8_t kEof = 0xFF;
constexpr std::uint8_t kEscape = 0xFD;
constexpr std::uint8_t kXor = 0x20;
constexpr std::uint8_t kFirstEscaped = 0xF8;  // every byte from here up is escaped

constexpr std::uint8_t kSlot = 0x00;
constexpr std::uint8_t kMessageEmber = 0x0E;
constexpr std::uint8_t kCommandEmber = 0x00;
constexpr std::uint8_t kCommandKeepAliveRequest = 0x01;
constexpr std::uint8_t kCommandKeepAliveResponse = 0x02;
constexpr std::uint8_t kVersion = 0x01;
constexpr std::uint8_t kFlagFirst = 0x80;
constexpr std::uint8_t kFlagLast = 0x40;
constexpr std::uint8_t kFlagEmpty = 0x20;
constexpr std::uint8_t kDtdGlow = 0x01;
// The Glow schema's version, minor then major, as the packet's application bytes.
constexpr std::uint8_t kGlowMinor = 0x1F;
constexpr std::uint8_t kGlowMajor = 0x02;

// The CRC over a frame and its own complement comes to this.
constexpr std::uint16_t kGoodResidue = 0xF0B8;

void PutEscaped(Bytes& out, std::uint8_t byte) {
    if (byte >= kFirstEscaped) {
        out.push_back(kEscape);
        out.push_back(static_cast<std::uint8_t>(byte ^ kXor));
    } else {
        out.push_back(byte);
    }
}

}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::size_t size) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408)
                            : static_cast<std::uint16_t>(crc >> 1);
        }
    }
    return crc;
}

Bytes EncodeS101(const S101Message& message) {
    Bytes body{kSlot, kMessageEmber};
    if (message.kind == S101Kind::kEmber) {
        body.insert(body.end(),
                    {kCommandEmber, kVersion, static_cast<std::uint8_t>(kFlagFirst | kFlagLast),
                     kDtdGlow, 2, kGlowMinor, kGlowMajor});
        body.insert(body.end(), message.glow.begin(), message.glow.end());
    } else {
        body.push_back(message.kind == S101Kind::kKeepAliveRequest ? kCommandKeepAliveRequest
                                                                   : kCommandKeepAliveResponse);
        body.push_back(kVersion);
    }
    const std::uint16_t crc = static_cast<std::uint16_t>(~Crc16(body.data(), body.size()));
    body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    Bytes frame{kBof};
    for (std::uint8_t byte : body) PutEscaped(frame, byte);
    frame.push_back(kEof);
    return frame;
}

Result<std::optional<S101Message>> S101Decoder::Step(std::uint8_t byte) {
    if (byte == kBof) {
        // A frame begun again drops the one before it, as a sender that restarts does.
        m_inFrame = true;
        m_escaped = false;
        m_frame.clear();
        return std::optional<S101Message>();
    }
    if (!m_inFrame) return Malformed("bytes outside a frame");
    if (byte == kEof) {
        m_inFrame = false;
        if (m_escaped) return Malformed("a frame ends inside an escape");
        return EndFrame();
    }
    if (m_escaped) {
        m_escaped = false;
        const auto plain = static_cast<std::uint8_t>(byte ^ kXor);
        if (plain < kFirstEscaped) return Malformed("a byte escaped that needs no escape");
        m_frame.push_back(plain);
    } else if (byte == kEscape) {
        m_escaped = true;
    } else if (byte >= kFirstEscaped) {
        return Malformed("a reserved byte inside a frame");
    } else {
        m_frame.push_back(byte);
    }
    if (m_frame.size() > m_mostBytes + 16) return Malformed("a frame is too long");
    return std::optional<S101Message>();
}

Result<std::optional<S101Message>> S101Decoder::EndFrame() {
    const Bytes& f = m_frame;
    if (f.size() < 6) return Malformed("a frame too short for its header and CRC");
    if (Crc16(f.data(), f.size()) != kGoodResidue) return Malformed("a frame fails its CRC");
    const std::size_t end = f.size() - 2;  // the CRC's first byte
    if (f[0] != kSlot || f[1] != kMessageEmber) return Malformed("a frame of an unknown kind");
    if (f[3] != kVersion) return Malformed("a frame of an unknown version");
    if (f[2] == kCommandKeepAliveRequest || f[2] == kCommandKeepAliveResponse) {
        const S101Kind kind = f[2] == kCommandKeepAliveRequest ? S101Kind::kKeepAliveRequest
                                                               : S101Kind::kKeepAliveResponse;
        return std::optional<S101Message>(S101Message{kind, {}});
    }
    if (f[2] != kCommandEmber) return Malformed("a frame with an unknown command");
    if (end < 7) return Malformed("a Glow packet too short for its header");
    const std::uint8_t flags = f[4];
    if (f[5] != kDtdGlow) return Malformed("a packet of another schema than Glow");
    const std::size_t payload = 7 + std::size_t{f[6]};  // after the application bytes
    if (payload > end) return Malformed("a packet's application bytes pass its end");
    if (flags & kFlagFirst) {
        m_message.clear();
        m_inMessage = true;
    } else if (!m_inMessage) {
        return Malformed("a packet continues no message");
    }
    if (!(flags & kFlagEmpty))
        m_message.insert(m_message.end(), f.begin() + payload, f.begin() + end);
    if (m_message.size() > m_mostBytes) return Malformed("a message is too long");
    if (!(flags & kFlagLast)) return std::optional<S101Message>();
    m_inMessage = false;
    return std::optional<S101Message>(S101Message{S101Kind::kEmber, std::move(m_message)});
}

}  // namespace vantrel::ember
