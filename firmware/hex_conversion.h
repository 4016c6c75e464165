#pragma once

#include <cstdint>
#include <optional>

#include "firmware/image.h"

namespace vantrel::firmware {

/// Converts the Intel HEX text held in the slot's buffer into a binary image in the same
/// buffer, gaps 0x00, its length the highest end address written. False when the text has
/// no end-of-file record, a record shorter than 11 or of 256 characters or more, a record that
/// does not begin with ':' or is not all pairs of hex digits, a record whose bytes do not sum
/// to 0 modulo 256 (its checksum is wrong), a byte count larger than the digits that carry it,
/// or a byte whose address lies outside the buffer.
bool ConvertMainHex(ImageSlot& slot);

/// As ConvertMainHex, but a data record at offset 0xFFF8 or above is skipped whole: the net
/// controller's files carry there what its flash does not take.
bool ConvertNetHex(ImageSlot& slot);

/// The lowest and the highest address that a data record writes.
struct HexAddressRange {
    std::uint32_t lowest = 0;
    std::uint32_t highest = 0;
};

/// The addresses that the controller's conversion of `text` (a slot holding HEX text, as
/// before ConvertMainHex) writes; nullopt when it would not convert or writes no byte.
std::optional<HexAddressRange> HexWrittenRange(ImageSlot text, Controller controller);

}  // namespace vantrel::firmware
