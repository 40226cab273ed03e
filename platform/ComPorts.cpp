#include "platform/ComPorts.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QtGlobal>
#include <cstdlib>
#include <memory>

#include "platform/QtSerialPort.h"

#ifndef Q_OS_WIN
#include <unistd.h>
#include <cerrno>
#endif

namespace dpx::platform {

std::string ComDeviceName(int n) {
#ifdef Q_OS_WIN
    return "COM" + std::to_string(n);
#else
    const std::string var = "DPX20_COM" + std::to_string(n);
    if (const char* path = std::getenv(var.c_str()); path && *path) return path;
    return "/dev/ttyS" + std::to_string(n - 1);
#endif
}

std::string DescribeComPort(int n) {
    const std::string device = ComDeviceName(n);
    std::string text = device;
    QString location = QString::fromStdString(device);
#ifndef Q_OS_WIN
    const QFileInfo info(location);
    if (info.isSymLink()) text += " -> " + info.symLinkTarget().toStdString();
    if (!info.exists()) return text + " (not present)";
    location = info.canonicalFilePath();
    if (info.isSymLink()) text = device + " -> " + location.toStdString();
    if (::access(location.toLocal8Bit().constData(), R_OK | W_OK) != 0 && errno == EACCES)
        return text + " (no permission: the user needs to be in the dialout group)";
#endif
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) {
        if (port.systemLocation() != location && port.portName() != location) continue;
        if (!port.description().isEmpty()) text += " (" + port.description().toStdString() + ")";
        break;
    }
    return text;
}

std::unique_ptr<SerialPort> MakeSerialPort(const std::string& port_name) {
    return std::make_unique<QtSerialPort>(port_name);
}

bool CheckPortName(const std::string& port_name, std::string* why) {
    if (!port_name.empty()) return true;
    if (why) *why = "The port name is empty.";
    return false;
}

std::string PortNameHint() {
#ifdef Q_OS_WIN
    return "A COM port name, such as COM3.";
#else
    return "A device path, such as /dev/ttyUSB0 or /dev/serial/by-id/...";
#endif
}

PortFactory MakePortFactory() {
    return [](int n) { return MakeSerialPort(ComDeviceName(n)); };
}

}  // namespace dpx::platform
