#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

/// The unit's address when the panel knows none: 192.168.1.220.
constexpr uint32_t kDefaultUnitAddress = 3232235996u;

/// The file that keeps the unit's last IP address between runs: "ip" in the user's temporary
/// directory, in a buffer of 256 characters. Empty when the directory's path leaves no room
/// for the name (or cannot be had); no file is read or written then.
std::string AddressFilePath();

/// The address kept in the file, as "%u" of its 32-bit value; 0 when the file holds no
/// number. A file that cannot be opened is created holding kDefaultUnitAddress, which is
/// returned whether or not it could be written, as it is for an empty path.
uint32_t LoadAddressFile(const std::string& path);

/// Writes address as "%u" with no line end into a new file beside path ("ip.new"), then puts
/// it in the file's place. False when any step fails; the file then keeps what it held.
bool StoreAddressFile(const std::string& path, uint32_t address);

}  // namespace vantrel
