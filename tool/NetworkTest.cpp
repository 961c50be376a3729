#include "NetworkTest.h"

#include "EventWait.h"
#include "NerovaLog.h"
#include "ReplyBody.h"
#include "TlsPolicy.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace {

const char kTestUser[] = "kxdemo";
const char kTestPassword[] = "Qpt804215";

// Like the library: store servers often have self-signed certificates,
// accepted unless a CA is pinned for them.
QNetworkRequest loginRequest(const QString &loginUrl, const TlsPolicy &tls)
{
    QNetworkRequest request(QUrl(loginUrl, QUrl::TolerantMode));
    tls.applyTo(request);
    request.setRawHeader("Accept-Encoding", "identity");
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
                                      const std::function<bool()> &stopped, int timeLimitMs, const Setup &setup)
{
    const TlsPolicy tls = TlsPolicy::storeServer(setup.caFile);
    Outcome outcome;
    if (!tls.problem().isEmpty()) {
        NerovaLog::error(setup.loggerName, QStringLiteral("Tool: %1").arg(tls.problem()));
        outcome.error = tls.problem();
        return outcome;
    }
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.post(loginRequest(loginUrl, tls), requestBody(storeNumber));
    ReplyBody *body = ReplyBody::attach(reply, kMaxReplyBytes, setup.loggerName);
    tls.applyTo(reply);
    EventWait::until([&] { return reply->isFinished() || stopped(); }, timeLimitMs);
    if (!reply->isFinished()) {
        outcome.timedOut = !stopped();
        reply->abort();
    } else {
        body->take();
        outcome.success = !body->isOversized() && reply->error() == QNetworkReply::NoError;
        if (!outcome.success)
            outcome.error = body->isOversized() ? body->oversizedText() : reply->errorString();
    }

    reply->deleteLater();
    return outcome;
}
