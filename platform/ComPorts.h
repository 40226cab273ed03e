#pragma once
// COM numbers 1-8 onto the devices of this platform, and the port factory of the link.
#include <memory>
#include <string>
#include <vector>

#include "link/SerialPort.h"

class QSettings;

namespace dpx::platform {

// The device COM n means, in this order: $DPX20_COMn when set and not empty (scripts and
// tests), the operator's saved map, the platform default. The panel, its tool tips and the
// link ask only this.
std::string ComDeviceName(int n);
// "COMn" on Windows, /dev/ttyS<n-1> elsewhere.
std::string DefaultComDevice(int n);
// "DPX20_COMn".
std::string ComEnvironmentVariable(int n);
// The operator's map, kept per user with QSettings (on Linux ~/.config/dpx20remote/), never
// in the options file. Empty when COM n has no entry; saving an empty name removes it.
std::string SavedComDevice(int n);
void SaveComDevice(int n, const std::string& device);
// That per-user store, for what else the program keeps per user (the COM device dialog's size).
std::unique_ptr<QSettings> UserSettings();

// A serial port the system has now, as the COM device dialog lists it.
struct SerialPortEntry {
    std::string location;       // the device, e.g. /dev/ttyUSB0
    std::string description;
    std::string manufacturer;
    std::string serial_number;
    std::string by_id;          // the /dev/serial/by-id/... name leading to it; empty if none
};
std::vector<SerialPortEntry> ListSerialPorts();

// For the COM PORT tool tips: the device, where a symbolic link leads, the adapter's
// description when the system knows it, or why the device cannot be used.
std::string DescribeComPort(int n);
// The one place that knows the forms of a port name: makes the SerialPort for `port_name`
// (a device path, on Windows "COMn", or a port on a network serial server:
// socket://HOST:PORT raw TCP, rfc2217://HOST:PORT Telnet with the COM-PORT-OPTION, an IPv6
// address in brackets). The port is opened later by its user.
std::unique_ptr<SerialPort> MakeSerialPort(const std::string& port_name);
// What kind of port `port_name` is: "device", "raw TCP" or "RFC 2217".
std::string PortKind(const std::string& port_name);
// Whether MakeSerialPort knows the form of `port_name`; if not, `why` says what is wrong.
bool CheckPortName(const std::string& port_name, std::string* why);
// One line on the forms a port name may take, for the operator choosing a device.
std::string PortNameHint();
// Makes MakeSerialPort(ComDeviceName(n)) for COM number n.
PortFactory MakePortFactory();

}  // namespace dpx::platform
