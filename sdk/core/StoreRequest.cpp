#include "StoreRequest.h"

#include "NerovaBase.h"
#include "ReplyBody.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTimer>

namespace {

// The transfer time-out counts silence only: a server that trickles its
// answer would hold the request open for ever. Once the body is sent, the
// whole answer must come within a few transfer time-outs.
void limitAnswerTime(QNetworkReply *reply, int transferTimeoutMs)
{
    if (transferTimeoutMs <= 0)
        return;
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [reply] {
        if (reply->isRunning())
            reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::uploadProgress, deadline, [deadline, transferTimeoutMs](qint64 sent, qint64 total) {
        if (sent == total && !deadline->isActive())
            deadline->start(StoreRequest::answerTimeFactor * transferTimeoutMs);
    });
}

} // namespace

TlsPolicy StoreRequest::tlsFor(Peer peer)
{
    const NerovaBase *base = NerovaBase::instance();
    if (!base)
        return TlsPolicy::relaxed();
    const auto config = base->config();
    const QDir installation(base->paths().applicationDir);
    const auto inInstallation = [&](const QString &file) {
        return file.isEmpty() ? file : installation.absoluteFilePath(file);
    };
    const TlsPolicy tls = peer == Peer::Cloud
        ? TlsPolicy::cloud(config->cloudTlsVerify, inInstallation(config->cloudCaFile))
        : TlsPolicy::storeServer(inInstallation(config->serverCaFile));
    if (!tls.problem().isEmpty())
        base->logError(QStringLiteral("%1: the request cannot succeed").arg(tls.problem()));
    return tls;
}

QNetworkRequest StoreRequest::make(const QString &address, int timeoutMs, const TlsPolicy &tls)
{
    QNetworkRequest request(QUrl(address, QUrl::TolerantMode));
    request.setRawHeader("Content-Type", "application/json");
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    // Answers are taken as sent. Asked for gzip, Qt would inflate an answer
    // before its size could be checked: a few compressed megabytes from a
    // broken or hostile server would take gigabytes of memory.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setTransferTimeout(timeoutMs);
    tls.applyTo(request);
    return request;
}

QNetworkReply *StoreRequest::post(QNetworkAccessManager &manager, const QNetworkRequest &request,
                                  const QByteArray &body)
{
    QNetworkReply *reply = manager.post(request, body);
    if (request.sslConfiguration().peerVerifyMode() == QSslSocket::VerifyNone)
        reply->ignoreSslErrors();
    const NerovaBase *base = NerovaBase::instance();
    ReplyBody::attach(reply, maxReplyBytes, base ? base->loggerName() : QString());
    limitAnswerTime(reply, request.transferTimeout());
    return reply;
}

bool StoreRequest::isOversized(const QNetworkReply *reply)
{
    const ReplyBody *body = ReplyBody::of(reply);
    return body && body->isOversized();
}

int StoreRequest::errorNumber(const QNetworkReply *reply)
{
    return isOversized(reply) ? QNetworkReply::OperationCanceledError : reply->error();
}

QString StoreRequest::errorText(const QNetworkReply *reply)
{
    return isOversized(reply) ? ReplyBody::of(reply)->oversizedText() : reply->errorString();
}

QByteArray StoreRequest::answerBody(QNetworkReply *reply)
{
    ReplyBody *body = ReplyBody::of(reply);
    return body ? body->take() : QByteArray();
}
