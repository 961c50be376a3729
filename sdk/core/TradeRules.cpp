#include "TradeRules.h"

#include "JsonText.h"
#include "StoreProtocol.h"

#include <QJsonObject>
#include <QNetworkReply>

namespace {

TradeRules::Verdict unanswered(TradeRules::Outcome outcome, const QString &reason)
{
    TradeRules::Verdict verdict;
    verdict.outcome = outcome;
    verdict.reason = reason;
    return verdict;
}

QString statusText(int status)
{
    return QStringLiteral("HTTP status %1").arg(status);
}

} // namespace

// Qt's errors below 200 are the connection's and the proxy's (refused,
// closed in the middle, timed out, TLS); a broken or unknown protocol has
// no answer either. The others stand for an HTTP status that came.
bool TradeRules::isTransportError(int networkError)
{
    return (networkError > QNetworkReply::NoError && networkError < QNetworkReply::ContentAccessDenied)
        || networkError == QNetworkReply::ProtocolUnknownError || networkError == QNetworkReply::ProtocolFailure;
}

TradeRules::Verdict TradeRules::verdict(const Reply &reply)
{
    const int status = reply.httpStatus;
    if (status == 0 || isTransportError(reply.networkError))
        return unanswered(Outcome::Unanswered, reply.errorText.isEmpty() ? QStringLiteral("no answer") : reply.errorText);
    if (status == 401) {
        Verdict verdict;
        verdict.outcome = Outcome::InvalidToken;
        verdict.state = 401;
        return verdict;
    }
    if (status == 408 || status == 429 || status >= 500)
        return unanswered(Outcome::Unanswered, statusText(status));
    const QJsonDocument document = JsonText::parse(reply.body);
    if (document.isObject()) {
        Verdict verdict;
        verdict.state = StoreProtocol::tradeState(document.object());
        verdict.msg = document.object().value(QStringLiteral("msg")).toString();
        verdict.outcome = verdict.state == 0     ? Outcome::Accepted
                        : verdict.state == 401 ? Outcome::InvalidToken
                                               : Outcome::Refused;
        return verdict;
    }
    const QString notJson = QStringLiteral("%1 answered %2 bytes of %3, not a JSON object")
                                .arg(statusText(status))
                                .arg(reply.body.size())
                                .arg(reply.contentType.isEmpty() ? QStringLiteral("no content type") : reply.contentType);
    return unanswered(status >= 400 && status <= 499 ? Outcome::Rejected : Outcome::Unanswered, notJson);
}

int TradeRules::retryDelayMs(int failures, int firstMs, int longestMs)
{
    qint64 delay = qMax(1, firstMs);
    for (int i = 1; i < failures && delay < longestMs; ++i)
        delay *= 2;
    return static_cast<int>(qMin<qint64>(delay, qMax(firstMs, longestMs)));
}

QString TradeRules::heldText(int held)
{
    return QStringLiteral("held: %1").arg(held);
}

QString TradeRules::fullText(int held, int notKept)
{
    return QStringLiteral("held: %1, not kept: %2").arg(held).arg(notKept);
}
