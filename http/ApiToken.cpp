#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStandardPaths>
#include <array>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "http/ApiServer.h"

// Where the control API listens, and the token that a listener beyond this computer asks for.
namespace dpx::api {
namespace {

constexpr std::size_t kTokenBytes = 32;

bool ValidToken(const std::string& token) {
    return token.size() == 2 * kTokenBytes && token.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string WriteToken(const QString& name, std::string* why) {
    QDir().mkpath(QFileInfo(name).path());
    std::array<quint32, kTokenBytes / 4> random{};
    QRandomGenerator::system()->fillRange(random.data(), random.size());
    const QByteArray token =
        QByteArray(reinterpret_cast<const char*>(random.data()), static_cast<qsizetype>(kTokenBytes)).toHex();
    // A temporary file beside it, readable by the user alone before the token goes in, takes
    // the name once it is whole: a reader sees the old token or the new one.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(token + '\n') != token.size() + 1 || !file.commit()) {
        *why = "cannot write the token file " + name.toStdString() + ": " + file.errorString().toStdString();
        return {};
    }
    return token.toStdString();
}

}  // namespace

// The modification time, size and permissions of the token file (and on POSIX its inode), to
// tell when another program replaced it, removed it or let others read it. Asked at every
// request: one stat() where there is one.
qint64 TokenFileStamp(const std::string& file) {
#ifdef _WIN32
    const QFileInfo info(QString::fromStdString(file));
    if (!info.exists()) return 0;
    return info.lastModified().toMSecsSinceEpoch() ^ (info.size() << 48) ^ (static_cast<qint64>(info.permissions()) << 32);
#else
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return 0;
    return (static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec) ^
           (static_cast<qint64>(st.st_size) << 48) ^ (static_cast<qint64>(st.st_mode) << 32) ^
           (static_cast<qint64>(st.st_ino) << 16);
#endif
}

bool ParseListenAddress(const std::string& address, ListenAddress* out, std::string* why) {
    ListenAddress a;
    std::string port = address;
    if (!address.empty() && address.front() == '[') {
        const std::size_t close = address.find("]:");
        if (close == std::string::npos) {
            *why = "an IPv6 address is written [ADDRESS]:PORT: " + address;
            return false;
        }
        a.host = address.substr(1, close - 1);
        port = address.substr(close + 2);
    } else if (const std::size_t colon = address.rfind(':'); colon != std::string::npos) {
        a.host = address.substr(0, colon);
        port = address.substr(colon + 1);
        if (a.host.find(':') != std::string::npos) {
            *why = "an IPv6 address is written [ADDRESS]:PORT: " + address;
            return false;
        }
    }
    if (a.host.empty() || port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
        std::stol(port) > 65535) {
        *why = "the control API's address is [HOST:]PORT with a port 0 to 65535: " + address;
        return false;
    }
    if (a.host == "localhost") a.host = "127.0.0.1";
    a.port = static_cast<uint16_t>(std::stol(port));
    *out = a;
    return true;
}

std::string TokenFile() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("dpx20remote/api-token"))
        .toStdString();
}

std::string LoadOrMakeToken(std::string* why, std::string* warning) {
    const QString name = QString::fromStdString(TokenFile());
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        if (QFile::exists(name)) {
            *why = "cannot read the token file " + name.toStdString() + ": " + file.errorString().toStdString();
            return {};
        }
        return WriteToken(name, why);
    }
    const std::string token = file.readAll().trimmed().toStdString();
    if (!ValidToken(token)) {
        *why = "the token file " + name.toStdString() +
               " does not hold a token; remove it or run \"dpx20ctl token --new\" to have a new one made";
        return {};
    }
#ifndef Q_OS_WIN  // Windows tells no owner-only rights this way; the folder is the user's own
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                            QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if ((file.permissions() & others) != 0) {
        const std::string fresh = WriteToken(name, why);
        if (!fresh.empty() && warning)
            *warning = "the token file " + name.toStdString() +
                       " could be read by other users; it holds a new token now, which clients must send";
        return fresh;
    }
#else
    (void)warning;
#endif
    return token;
}

std::string MakeNewToken(std::string* why) { return WriteToken(QString::fromStdString(TokenFile()), why); }

}  // namespace dpx::api
