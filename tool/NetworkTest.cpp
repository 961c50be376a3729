#include "NetworkTest.h"

#include "EventWait.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QUrl>

namespace {

const char kTestUser[] = "kxdemo";
const char kTestPassword[] = "Qpt804215";

QNetworkRequest loginRequest(const QString &loginUrl)
{
    QNetworkRequest request(QUrl(loginUrl, QUrl::TolerantMode));
    if (loginUrl.startsWith(QLatin1String("https"))) {
        // Like the library: store servers often have self-signed
        // certificates; OpenSSL 3 refuses TLS 1.0 alone, so 1.0 or later.
        QSslConfiguration ssl = request.sslConfiguration();
        ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl.setProtocol(QSsl::TlsV1_0OrLater);
        request.setSslConfiguration(ssl);
    }
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    return request;
}

} // namespace

QByteArray NetworkTest::requestBody(const QString &storeNumber)
{
    QJsonObject body;
    body.insert(QStringLiteral("mac"), storeNumber);
    body.insert(QStringLiteral("userName"), QLatin1String(kTestUser));
    body.insert(QStringLiteral("passWord"), QLatin1String(kTestPassword));
    return QJsonDocument(body).toJson(QJsonDocument::Indented);
}

NetworkTest::Outcome NetworkTest::run(const QString &loginUrl, const QString &storeNumber,
                                      const std::function<bool()> &stopped, int timeLimitMs)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.post(loginRequest(loginUrl), requestBody(storeNumber));
    reply->ignoreSslErrors();
    EventWait::until([&] { return reply->isFinished() || stopped(); }, timeLimitMs);
    Outcome outcome;
    if (!reply->isFinished()) {
        outcome.timedOut = !stopped();
        reply->abort();
    } else {
        outcome.success = reply->error() == QNetworkReply::NoError;
        if (!outcome.success)
            outcome.error = reply->errorString();
    }
    reply->deleteLater();
    return outcome;
}
