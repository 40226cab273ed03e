#include "platform/ComPorts.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSettings>
#include <QtGlobal>
#include <cstdlib>
#include <map>
#include <memory>

#include "platform/QtSerialPort.h"

#ifndef Q_OS_WIN
#include <unistd.h>
#include <cerrno>
#endif

namespace dpx::platform {

namespace {
// QSettings of the operator's map: ~/.config/dpx20remote/dpx20remote.conf on Linux, the
// registry on Windows. Named explicitly so that tests and tools share the panel's map.
constexpr char kSettingsOrganisation[] = "dpx20remote";
constexpr char kSettingsApplication[] = "dpx20remote";
QString MapKey(int n) { return QStringLiteral("com_ports/COM%1").arg(n); }
}  // namespace

std::string ComEnvironmentVariable(int n) { return "DPX20_COM" + std::to_string(n); }

std::string DefaultComDevice(int n) {
#ifdef Q_OS_WIN
    return "COM" + std::to_string(n);
#else
    return "/dev/ttyS" + std::to_string(n - 1);
#endif
}

std::string SavedComDevice(int n) {
    const QSettings settings(QSettings::UserScope, kSettingsOrganisation, kSettingsApplication);
    return settings.value(MapKey(n)).toString().toStdString();
}

void SaveComDevice(int n, const std::string& device) {
    QSettings settings(QSettings::UserScope, kSettingsOrganisation, kSettingsApplication);
    if (device.empty()) {
        settings.remove(MapKey(n));
    } else {
        settings.setValue(MapKey(n), QString::fromStdString(device));
    }
}

std::string ComDeviceName(int n) {
    if (const char* name = std::getenv(ComEnvironmentVariable(n).c_str()); name && *name) return name;
    if (std::string saved = SavedComDevice(n); !saved.empty()) return saved;
    return DefaultComDevice(n);
}

std::vector<SerialPortEntry> ListSerialPorts() {
    // The stable names under /dev/serial/by-id, by the device each leads to.
    std::map<QString, QString> by_id;
    const QDir dir(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        by_id.emplace(link.canonicalFilePath(), link.absoluteFilePath());
    std::vector<SerialPortEntry> ports;
    for (const QSerialPortInfo& port : QSerialPortInfo::availablePorts()) {
        SerialPortEntry entry;
        entry.location = port.systemLocation().toStdString();
        entry.description = port.description().toStdString();
        entry.manufacturer = port.manufacturer().toStdString();
        entry.serial_number = port.serialNumber().toStdString();
        if (auto it = by_id.find(port.systemLocation()); it != by_id.end())
            entry.by_id = it->second.toStdString();
        ports.push_back(std::move(entry));
    }
    return ports;
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
        return text + " (no permission: " + kDialoutAdvice + ")";
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
