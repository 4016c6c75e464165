#include "serial/com_ports.h"

#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

namespace vantrel {
namespace {

// Owns a device information set.
class DeviceInfoSet {
  public:
    explicit DeviceInfoSet(HDEVINFO set) : m_hSet(set) {}
    ~DeviceInfoSet() {
        if (m_hSet != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(m_hSet);
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
    HDEVINFO Get() const { return m_hSet; }

  private:
    HDEVINFO m_hSet;
};

// Owns an open registry key.
class RegistryKey {
  public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (m_hKey != nullptr) RegCloseKey(m_hKey);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY* Receive() { return &m_hKey; }
    HKEY Get() const { return m_hKey; }

  private:
    HKEY m_hKey = nullptr;
};

// Friendly names of the present Ports-class devices, in the order the setup API gives them.
// A device whose name is missing or does not fit the 256-byte buffer is left out.
std::vector<std::string> PortsClassFriendlyNames() {
    std::vector<std::string> names;
    DeviceInfoSet set(SetupDiGetClassDevsA(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT));
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set.Get(), index, &device); ++index) {
        char name[256] = {};
        DWORD type = 0;
        if (!SetupDiGetDeviceRegistryPropertyA(set.Get(), &device, SPDRP_FRIENDLYNAME, &type,
                                               reinterpret_cast<BYTE*>(name), sizeof name,
                                               nullptr)) {
            continue;
        }
        name[sizeof name - 1] = '\0';
        names.emplace_back(name);
    }
    return names;
}

// The string values of SERIALCOMM ("COM1", "COM7", ...), in the registry's order.
std::vector<std::string> SerialCommDeviceNames() {
    std::vector<std::string> names;
    RegistryKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                      key.Receive()) != ERROR_SUCCESS) {
        return names;
    }
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        DWORD valueNameLength = sizeof valueName;
        char data[64] = {};
        DWORD dataLength = sizeof data - 1;
        DWORD type = 0;
        LONG result = RegEnumValueA(key.Get(), index, valueName, &valueNameLength, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data), &dataLength);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result == ERROR_SUCCESS && type == REG_SZ) names.emplace_back(data);
        if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) break;
    }
    return names;
}

}  // namespace

void EnumerateComPorts(std::int32_t* ports, std::int32_t* count) {
    CollectComPorts(PortsClassFriendlyNames(), ComPortFromFriendlyName, ports, count);
    if (*count == 0) CollectComPorts(SerialCommDeviceNames(), ComPortFromDeviceName, ports, count);
}

}  // namespace vantrel
