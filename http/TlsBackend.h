#pragma once
// Which of Qt's TLS backends the control API (HTTPS, WSS) and dpx20ctl's requests use.
#include <QIODevice>
#include <QList>
#include <QSslCertificate>
#include <QSslKey>
#include <string>

namespace dpx::api {

// Makes Qt's OpenSSL backend the active one where it can be loaded, else leaves Qt's choice
// (on Windows: Schannel, the system's own). Called once the application object exists and
// before anything uses TLS: Qt fixes the backend at the first use.
//
// Why OpenSSL on Windows: the setup ships it (tls\qopensslbackend.dll with libssl-3-x64.dll and
// libcrypto-3-x64.dll beside the programs), and with it a server takes the keys it takes on
// Linux: PEM (PKCS#8, traditional RSA, EC) and PKCS#12 files, read by the same code. Qt's
// Schannel backend, under Wine, refused PEM keys at every handshake and every PKCS#12 file at
// the start; it has not been tried on Windows itself.
void PreferOpenSslBackend();

// QSslCertificate::importPkcs12 without a passphrase, with OpenSSL's legacy provider loaded
// first under the OpenSSL backend: files made with openssl's -legacy, by Windows' certificate
// export and other older tools encrypt with RC2, which OpenSSL 3 keeps in that provider, loaded
// on demand only. On Windows the provider is looked for in the program's ossl-modules folder,
// where the setup puts it; where it cannot be loaded, such a file is refused as before.
bool ImportPkcs12(QIODevice& file, QSslKey* key, QSslCertificate* certificate, QList<QSslCertificate>* chain);

// The backend in use, and a warning for a server with a key when it is not OpenSSL (empty when
// it is): the key may then be refused.
std::string TlsBackendWarning();

}  // namespace dpx::api
