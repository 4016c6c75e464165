#include "firmware/net_frames.h"

#include "firmware/crc16.h"

namespace vantrel::firmware {
namespace {

Frame Header(std::uint8_t command, std::uint32_t address, std::uint8_t count) {
    return {command,
            static_cast<std::uint8_t>(address),
            static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address >> 16),
            static_cast<std::uint8_t>(address >> 24),
            count};
}

Frame WithCrc(Frame frame) {
    const std::uint16_t crc = Crc16(frame.data(), frame.size());
    frame.push_back(static_cast<std::uint8_t>(crc));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
    return frame;
}

}  // namespace

Frame StuffFrame(const Frame& frame) {
    Frame out;
    out.reserve(2 * frame.size() + 1);
    for (std::uint8_t byte : frame) {
        if (byte == kEndByte || byte == kEscapeByte || byte == kStartByte)
            out.push_back(kEscapeByte);
        out.push_back(byte);
    }
    out.push_back(kEndByte);
    return out;
}

Frame EraseFrame(std::uint32_t address, std::uint8_t pages) {
    return WithCrc(Header(kEraseFlash, address, pages));
}

Frame WriteFrame(const std::uint8_t* image, std::size_t length, std::uint32_t offset,
                 std::uint8_t blocks) {
    Frame frame = Header(kWriteFlash, offset, blocks);
    const std::size_t end = std::size_t{offset} + std::size_t{blocks} * kWriteBlock;
    for (std::size_t i = offset; i < end; ++i) frame.push_back(i < length ? image[i] : 0xFF);
    return WithCrc(std::move(frame));
}

Frame ClosingFrame(const std::array<std::uint8_t, 4>& start) {
    Frame frame = Header(kWriteFlash, kClosingBlock, 1);
    frame.insert(frame.end(), kWriteBlock - start.size(), 0xFF);
    frame.insert(frame.end(), start.begin(), start.end());
    return WithCrc(std::move(frame));
}

std::vector<FlashStep> ErasePlan() {
    std::vector<FlashStep> plan;
    // The last frame's pages reach below 0, so the address is counted signed.
    for (std::int64_t a = kTopErasePage; a > 0;) {
        const std::int64_t pages = a + kErasePage >= kMaxErasePages * kErasePage
                                       ? kMaxErasePages
                                       : (a + kErasePage) / kErasePage;
        plan.push_back({static_cast<std::uint32_t>(a), static_cast<std::uint8_t>(pages)});
        a -= pages * kErasePage;
    }
    return plan;
}

std::vector<FlashStep> WritePlan(std::uint32_t length) {
    std::vector<FlashStep> plan;
    for (std::uint32_t b = 0;;) {
        const std::uint32_t r = length - b;
        const std::uint32_t blocks =
            r > kMaxWriteData ? kMaxWriteBlocks : (r + kWriteBlock - 1) / kWriteBlock;
        plan.push_back({b, static_cast<std::uint8_t>(blocks)});
        b += blocks * kWriteBlock;
        if (blocks != kMaxWriteBlocks || b > length) break;
    }
    return plan;
}

}  // namespace vantrel::firmware
