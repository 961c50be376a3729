#include "StoreRequest.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTimer>
#include <QVariant>

namespace {

const char oversizedProperty[] = "nerovaOversized";

void abortIfOversized(QNetworkReply *reply, qint64 size)
{
    if (size <= StoreRequest::maxReplyBytes || reply->property(oversizedProperty).toBool())
        return;
    reply->setProperty(oversizedProperty, true);
    reply->abort();
}

// Watches the announced length and the bytes received, so an oversized
// answer is cut off early instead of being buffered whole.
void guardReplySize(QNetworkReply *reply)
{
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            abortIfOversized(reply, length.toLongLong());
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [reply](qint64 received, qint64) { abortIfOversized(reply, received); });
}

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

QNetworkRequest StoreRequest::make(const QString &address, int timeoutMs)
{
    QNetworkRequest request(QUrl(address, QUrl::TolerantMode));
    request.setRawHeader("Content-Type", "application/json");
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    // Answers are taken as sent. Asked for gzip, Qt would inflate an answer
    // before its size could be checked: a few compressed megabytes from a
    // broken or hostile server would take gigabytes of memory.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setTransferTimeout(timeoutMs);
    // The scheme test is on the address as configured, case-sensitive.
    if (address.startsWith(QLatin1String("https")))
        relaxTls(request);
    return request;
}

void StoreRequest::relaxTls(QNetworkRequest &request)
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    // Not exactly TLS 1.0: current OpenSSL refuses it by default.
    tls.setProtocol(QSsl::TlsV1_0OrLater);
    request.setSslConfiguration(tls);
}

QNetworkReply *StoreRequest::post(QNetworkAccessManager &manager, const QNetworkRequest &request,
                                  const QByteArray &body)
{
    QNetworkReply *reply = manager.post(request, body);
    reply->ignoreSslErrors();
    guardReplySize(reply);
    limitAnswerTime(reply, request.transferTimeout());
    return reply;
}

bool StoreRequest::isOversized(const QNetworkReply *reply)
{
    return reply->property(oversizedProperty).toBool();
}

QString StoreRequest::oversizedText()
{
    return QStringLiteral("Reply larger than %1 bytes").arg(maxReplyBytes);
}

int StoreRequest::errorNumber(const QNetworkReply *reply)
{
    return isOversized(reply) ? QNetworkReply::OperationCanceledError : reply->error();
}

QString StoreRequest::errorText(const QNetworkReply *reply)
{
    return isOversized(reply) ? oversizedText() : reply->errorString();
}

QByteArray StoreRequest::answerBody(QNetworkReply *reply)
{
    return isOversized(reply) ? QByteArray() : reply->readAll();
}
