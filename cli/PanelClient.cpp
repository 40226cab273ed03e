#include "cli/PanelClient.h"

#include <QByteArray>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>
#include <QUrl>
#include <memory>

#include "http/ApiServer.h"
#include "api/ControlApi.h"

namespace dpx::cli {
namespace {

std::string Token() {
    if (const QByteArray env = qgetenv("DPX20_API_TOKEN"); !env.isEmpty()) return env.trimmed().toStdString();
    QFile file(QString::fromStdString(api::TokenFile()));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toStdString() : std::string();
}

}  // namespace

ApiAnswer AskApi(const std::string& url, const std::string& method, const std::string& path, const std::string& body) {
    QString base = QString::fromStdString(url);
    while (base.endsWith('/')) base.chop(1);
    if (!base.endsWith(QLatin1String(api::kBasePath))) base += QLatin1String(api::kBasePath);
    const QUrl target(base + QString::fromStdString(path));
    if (!target.isValid() || target.host().isEmpty())
        return {0, {}, "not a URL of a control API (http://HOST:PORT): " + url};

    QNetworkAccessManager network;
    QNetworkRequest request(target);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(kPanelTimeoutMs);
    if (const std::string token = Token(); !token.empty())
        request.setRawHeader("Authorization", QByteArray("Bearer ") + QByteArray::fromStdString(token));
    // An HTTPS service whose certificate no authority of the system signed (one made for the
    // studio) is trusted through the certificate file named in DPX20_API_CA.
    if (const QString ca = qEnvironmentVariable("DPX20_API_CA"); !ca.isEmpty() && target.scheme() == QLatin1String("https")) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(tls.caCertificates() + QSslCertificate::fromPath(ca));
        request.setSslConfiguration(tls);
    }
    std::unique_ptr<QNetworkReply> reply(
        network.sendCustomRequest(request, QByteArray::fromStdString(method), QByteArray::fromStdString(body)));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();

    ApiAnswer answer;
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll().toStdString();
    if (answer.status == 0) answer.error = reply->errorString().toStdString();
    return answer;
}

}  // namespace dpx::cli
