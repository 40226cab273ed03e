#pragma once
// COM numbers 1-8 onto the devices of this platform, and the port factory of the link.
#include <memory>
#include <string>

#include "link/SerialPort.h"

namespace dpx::platform {

// "COMn" on Windows; elsewhere $DPX20_COMn when set and not empty, else /dev/ttyS<n-1>.
std::string ComDeviceName(int n);
// For the COM PORT tool tips: the device, where a symbolic link leads, the adapter's
// description when the system knows it, or why the device cannot be used.
std::string DescribeComPort(int n);
// The one place that knows the forms of a port name: makes the SerialPort for `port_name`
// (a device path, or on Windows "COMn"). The port is opened later by its user.
std::unique_ptr<SerialPort> MakeSerialPort(const std::string& port_name);
// Whether MakeSerialPort knows the form of `port_name`; if not, `why` says what is wrong.
bool CheckPortName(const std::string& port_name, std::string* why);
// One line on the forms a port name may take, for the operator choosing a device.
std::string PortNameHint();
// Makes MakeSerialPort(ComDeviceName(n)) for COM number n.
PortFactory MakePortFactory();

}  // namespace dpx::platform
