#include "platform/ComPorts.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSettings>
#include <QtGlobal>
#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>

#include "platform/QtSerialPort.h"
#include "platform/TcpSerialPort.h"

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

// A port on a network serial server: socket://HOST:PORT (raw TCP) or rfc2217://HOST:PORT
// (Telnet with the COM-PORT-OPTION); an IPv6 address is written in brackets, [::1]:2217.
// Options follow a '?', separated by '&', spelt as pyserial spells them; rfc2217:// takes
// ign_set_control, socket:// none.
struct NetworkPort {
    TcpSerialPort::Mode mode = TcpSerialPort::Mode::kRaw;
    std::string host;
    uint16_t port = 0;
    TcpSerialPort::Options options;
};
constexpr char kIgnoreSetControl[] = "ign_set_control";
constexpr char kRawScheme[] = "socket://";
constexpr char kRfc2217Scheme[] = "rfc2217://";

bool IsNetworkName(const std::string& name) {
    return name.rfind(kRawScheme, 0) == 0 || name.rfind(kRfc2217Scheme, 0) == 0;
}

// Splits a network port name; false with `why` when it is not well formed.
bool ParseNetworkPort(const std::string& name, NetworkPort* out, std::string* why) {
    const bool raw = name.rfind(kRawScheme, 0) == 0;
    out->mode = raw ? TcpSerialPort::Mode::kRaw : TcpSerialPort::Mode::kRfc2217;
    std::string rest = name.substr(raw ? sizeof kRawScheme - 1 : sizeof kRfc2217Scheme - 1);
    if (const size_t question = rest.find('?'); question != std::string::npos) {
        std::string options = rest.substr(question + 1);
        rest.resize(question);
        for (size_t at = 0; at <= options.size();) {
            const size_t amp = std::min(options.find('&', at), options.size());
            const std::string option = options.substr(at, amp - at);
            at = amp + 1;
            if (!raw && option == kIgnoreSetControl) {
                out->options.ignore_set_control = true;
                continue;
            }
            if (why) *why = "Unknown option \"" + option + "\" in the port name: rfc2217:// takes ?" + kIgnoreSetControl +
                            ", socket:// takes none.";
            return false;
        }
    }
    size_t colon = std::string::npos;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close != std::string::npos && close + 1 < rest.size() && rest[close + 1] == ':') {
            out->host = rest.substr(1, close - 1);
            colon = close + 1;
        }
    } else if ((colon = rest.rfind(':')) != std::string::npos) {
        out->host = rest.substr(0, colon);
        if (out->host.find(':') != std::string::npos) colon = std::string::npos;  // IPv6 needs brackets
    }
    const std::string digits = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
    unsigned long port = 0;
    bool number = !digits.empty() && digits.size() <= 5 && digits.find_first_not_of("0123456789") == std::string::npos;
    if (number) port = std::stoul(digits);
    if (colon == std::string::npos || out->host.empty() || !number || port < 1 || port > 65535 ||
        out->host.find_first_of(" /?#@") != std::string::npos) {
        if (why) *why = "A network port is written " + std::string(raw ? kRawScheme : kRfc2217Scheme) +
                        "HOST:PORT (an IPv6 address in brackets, [::1]:2217).";
        return false;
    }
    out->port = static_cast<uint16_t>(port);
    return true;
}
}  // namespace

std::string ComEnvironmentVariable(int n) { return "DPX20_COM" + std::to_string(n); }

std::string DefaultComDevice(int n) {
#ifdef Q_OS_WIN
    return "COM" + std::to_string(n);
#else
    return "/dev/ttyS" + std::to_string(n - 1);
#endif
}

std::unique_ptr<QSettings> UserSettings() {
    return std::make_unique<QSettings>(QSettings::UserScope, kSettingsOrganisation, kSettingsApplication);
}

std::string SavedComDevice(int n) { return UserSettings()->value(MapKey(n)).toString().toStdString(); }

void SaveComDevice(int n, const std::string& device) {
    const std::unique_ptr<QSettings> settings = UserSettings();
    if (device.empty()) {
        settings->remove(MapKey(n));
    } else {
        settings->setValue(MapKey(n), QString::fromStdString(device));
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
    if (NetworkPort net; IsNetworkName(device)) {
        if (!ParseNetworkPort(device, &net, nullptr)) return device + " (not a valid network port name)";
        return device + (net.mode == TcpSerialPort::Mode::kRaw ? " (serial device server, raw TCP)"
                                                              : " (serial device server, RFC 2217)");
    }
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
    if (NetworkPort net; IsNetworkName(port_name)) {
        // A malformed name makes a port that fails to open and says why.
        if (!ParseNetworkPort(port_name, &net, nullptr)) net = {net.mode, "", 0, {}};
        return std::make_unique<TcpSerialPort>(port_name, net.mode, net.host, net.port, net.options);
    }
    return std::make_unique<QtSerialPort>(port_name);
}

std::string PortKind(const std::string& port_name) {
    if (!IsNetworkName(port_name)) return "device";
    return port_name.rfind(kRawScheme, 0) == 0 ? "raw TCP" : "RFC 2217";
}

bool CheckPortName(const std::string& port_name, std::string* why) {
    if (NetworkPort net; IsNetworkName(port_name)) return ParseNetworkPort(port_name, &net, why);
    // "scheme://..." of a kind of port not known here. A path may hold "://" after a slash,
    // and "C://dir" is a Windows path: a scheme has two characters at least.
    const size_t scheme = port_name.find("://");
    if (scheme != std::string::npos && scheme > 1 && std::isalpha(static_cast<unsigned char>(port_name[0])) &&
        port_name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.") == scheme) {
        if (why) *why = "\"" + port_name.substr(0, scheme + 3) + "\" is not a kind of port this program knows.";
        return false;
    }
    if (!port_name.empty()) return true;
    if (why) *why = "The port name is empty.";
    return false;
}

std::string PortNameHint() {
    const std::string network =
        "; or a port on a serial device server: socket://HOST:PORT (raw TCP) or rfc2217://HOST:PORT "
        "(add ?ign_set_control for a server that never answers SET-CONTROL).";
#ifdef Q_OS_WIN
    return "A COM port name, such as COM3" + network;
#else
    return "A device path, such as /dev/ttyUSB0 or /dev/serial/by-id/..." + network;
#endif
}

PortFactory MakePortFactory() {
    return [](int n) { return MakeSerialPort(ComDeviceName(n)); };
}

}  // namespace dpx::platform
