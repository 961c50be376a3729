#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QString>

#include "TlsPolicy.h"

class QNetworkAccessManager;
class QNetworkReply;

// A POST to the store server or the cloud: JSON content type, the TLS
// policy of the server asked, a transfer time-out, and bounds on
// the size of the answer and (with a transfer time-out) on the time it
// takes once the request is sent. The answer is read while it arrives
// (ReplyBody).
class StoreRequest
{
public:
    static constexpr int defaultTimeoutMs = 30000;
    static constexpr qint64 maxReplyBytes = 4 * 1024 * 1024;
    // The answer's time limit, in transfer time-outs.
    static constexpr int answerTimeFactor = 2;

    enum class Peer { StoreServer, Cloud };
    // The peer's TLS policy as configured now; a CA file that cannot be
    // used is an ERROR line (and a policy its requests fail with).
    static TlsPolicy tlsFor(Peer peer);

    // The address is parsed in Qt's tolerant mode.
    static QNetworkRequest make(const QString &address, int timeoutMs, const TlsPolicy &tls);
    // TLS errors are ignored when the request does not verify its peer.
    static QNetworkReply *post(QNetworkAccessManager &manager, const QNetworkRequest &request,
                               const QByteArray &body);

    // True when the answer was cut off for exceeding maxReplyBytes; its
    // body must then be taken as empty and the exchange as failed.
    static bool isOversized(const QNetworkReply *reply);
    // The reply's error number; an oversized answer counts as cancelled,
    // also when it had been received whole before it could be cut off.
    static int errorNumber(const QNetworkReply *reply);
    // The text that goes with errorNumber.
    static QString errorText(const QNetworkReply *reply);
    // The answer's body; empty for an oversized answer.
    static QByteArray answerBody(QNetworkReply *reply);
};
