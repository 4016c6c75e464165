#pragma once

#include <cstdint>

#include "unit/unit_values.h"

namespace vantrel {

/// Readers of the console's replies. Each looks only at the count bytes actually received:
/// the receive buffer is reused and never terminated.

/// The decimal number at the start of a level reply ("12\r\n" gives 12): optional white space,
/// an optional sign, then digits up to the first other byte. No digits give 0; values beyond
/// the 32-bit range are held at its ends.
int32_t ParseLevelReply(const uint8_t* reply, int count);

/// Whether a level reply begins as a number does: optional white space, an optional sign,
/// then a digit.
bool StartsWithLevel(const uint8_t* reply, int count);

/// A MAC address as twelve upper-case hex digits, as the panel shows it.
void FormatMac(const MacAddress& mac, char (&text)[13]);

/// Bytes 0 to 3 as an address value, byte 0 in the top byte; false with fewer than 4 bytes.
bool AddressFromReply(const uint8_t* reply, int count, uint32_t& address);

/// An address value as "%d.%d.%d.%d", top byte first.
void FormatDotted(uint32_t address, char (&text)[16]);

}  // namespace vantrel
