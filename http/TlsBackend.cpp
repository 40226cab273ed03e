#include "http/TlsBackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <QSslSocket>

namespace dpx::api {

namespace {
const QString kOpenSsl = QStringLiteral("openssl");

// Loads OpenSSL's legacy provider, with the default one (loading one by name ends the implicit
// use of the default), into the library context Qt uses; false where it cannot. OpenSSL is
// reached through the library Qt's backend has loaded: the programs do not link it.
bool LoadLegacyProvider() {
    static const bool loaded = [] {
#ifdef Q_OS_WIN
        QLibrary crypto(QStringLiteral("libcrypto-3-x64"));
#else
        QLibrary crypto(QStringLiteral("crypto"), 3);
#endif
        using Load = void* (*)(void*, const char*);
        const auto load = reinterpret_cast<Load>(crypto.resolve("OSSL_PROVIDER_load"));
        if (!load) return false;
#ifdef Q_OS_WIN
        // OpenSSL's own default is the folder it was built for; the setup puts the module beside
        // the programs. OPENSSL_MODULES, when set, still decides.
        using SetPath = int (*)(void*, const char*);
        const auto set_path = reinterpret_cast<SetPath>(crypto.resolve("OSSL_PROVIDER_set_default_search_path"));
        if (set_path && qEnvironmentVariableIsEmpty("OPENSSL_MODULES")) {
            const QString folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + "/ossl-modules");
            set_path(nullptr, folder.toLocal8Bit().constData());
        }
#endif
        // Loaded for the whole process, and held here so that they stay reachable until its end.
        static void* const legacy = load(nullptr, "legacy");
        static void* const fallback = load(nullptr, "default");
        return legacy != nullptr && fallback != nullptr;
    }();
    return loaded;
}
}  // namespace

void PreferOpenSslBackend() {
    if (QSslSocket::availableBackends().contains(kOpenSsl)) QSslSocket::setActiveBackend(kOpenSsl);
}

bool ImportPkcs12(QIODevice& file, QSslKey* key, QSslCertificate* certificate, QList<QSslCertificate>* chain) {
    if (QSslSocket::activeBackend() == kOpenSsl) LoadLegacyProvider();
    return QSslCertificate::importPkcs12(&file, key, certificate, chain);
}

std::string TlsBackendWarning() {
    const QString active = QSslSocket::activeBackend();
    if (active == kOpenSsl) return {};
    return "HTTPS goes through Qt's " + active.toStdString() +
           " TLS backend, which may refuse this certificate's key for a server; Qt's OpenSSL backend "
           "takes PEM and PKCS#12 keys (on Windows: tls\\qopensslbackend.dll, libssl-3-x64.dll and "
           "libcrypto-3-x64.dll beside the program, as the setup program installs them)";
}

}  // namespace dpx::api
