#include "TradeSender.h"

#include "NerovaBase.h"
#include "StoreRequest.h"
#include "TradeRules.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr int waitStepMs = 5;

QString seconds(int milliseconds)
{
    return QString::number(milliseconds / 1000.0, 'f', 1);
}

} // namespace

TradeSender::TradeSender(NerovaBase &base, TradeOutbox &outbox, QNetworkAccessManager &network, int requestTimeoutMs)
    : m_base(base), m_outbox(outbox), m_network(network), m_requestTimeoutMs(requestTimeoutMs)
{
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &TradeSender::TriggerRetry);
    if (!m_outbox.isDurable())
        m_base.logProblem(tr("Trades are kept in memory only: %1. A trade the server has not answered when the host "
                             "ends is lost")
                              .arg(m_outbox.ownerProblem()));
    // Trades of an earlier run wait for the login.
    if (m_outbox.count() > 0) {
        m_holding = true;
        m_base.logInfo(tr("Trades held from an earlier run, sent after the login: %1").arg(m_outbox.count()));
        postNotice();
    }
}

TradeSender::~TradeSender() = default;

void TradeSender::report(const QByteArray &body)
{
    const int maxTrades = m_base.config()->tradeOutboxMax;
    const TradeOutbox::Added added = m_outbox.add(body, maxTrades);
    if (!added.kept)
        m_base.logProblem(tr("Trade not kept, the trade outbox is full (%1 trades, at most %2 as Server/TradeOutboxMax "
                             "says, and 16 MB): trades not kept so far: %3. The store server has not answered the "
                             "held trades: see the lines above")
                              .arg(added.held)
                              .arg(maxTrades)
                              .arg(added.notKept));
    else if (!added.onDisk && m_outbox.isDurable())
        m_base.logError(tr("Trade kept in memory only, the disk cannot take it (full, unwritable, or less than "
                           "16 KB free): it is written once the disk can take it; held: %1")
                            .arg(added.held));
    QMetaObject::invokeMethod(
        this, [this, kept = added.kept, notKept = added.notKept] { reported(kept, notKept); }, Qt::QueuedConnection);
}

void TradeSender::reported(bool kept, int notKept)
{
    if (!kept) {
        m_notKept = notKept;
        if (!m_full) {
            m_full = true;
            m_fullToTell = true;
            postNotice();
        }
    }
    kick();
}

void TradeSender::sessionOpened()
{
    kick();
}

void TradeSender::TriggerRetry()
{
    kick();
}

bool TradeSender::isInFlight(const QByteArray &key) const
{
    for (const auto &entry : m_inFlight) {
        if (entry.second.key == key)
            return true;
    }
    return false;
}

// Among the oldest trades, as many as are in flight plus as many as may
// still go hold every one that may go now.
void TradeSender::kick()
{
    if (m_retired || m_retryTimer.isActive())
        return;
    m_outbox.tidy();
    const QString token = m_base.sessionToken();
    if (token.isEmpty() || static_cast<int>(m_inFlight.size()) >= m_window)
        return;
    const QString tradeUrl = m_base.config()->tradeUrl;
    for (const TradeOutbox::Trade &trade : m_outbox.oldest(m_inFlight.size() + static_cast<size_t>(m_window))) {
        if (static_cast<int>(m_inFlight.size()) >= m_window)
            break;
        if (!isInFlight(trade.key))
            send(trade, token, tradeUrl);
    }
}

// The token is percent-encoded, so that no character of it can change the
// meaning of the address.
void TradeSender::send(const TradeOutbox::Trade &trade, const QString &token, const QString &tradeUrl)
{
    const QString address =
        tradeUrl + QStringLiteral("?token=") + QString::fromLatin1(QUrl::toPercentEncoding(token));
    QNetworkRequest request = StoreRequest::make(address, m_requestTimeoutMs, StoreRequest::tlsFor(StoreRequest::Peer::StoreServer));
    request.setRawHeader("Idempotency-Key", trade.key);
    QNetworkReply *reply = StoreRequest::post(m_network, request, trade.body);
    m_inFlight[reply] = InFlight{trade.key, token};
}

void TradeSender::TriggerTradeAnswer(QNetworkReply *reply)
{
    const auto found = m_inFlight.find(reply);
    if (found == m_inFlight.end())
        return;
    const InFlight sent = found->second;
    m_inFlight.erase(found);
    TradeRules::Reply answer;
    answer.networkError = StoreRequest::errorNumber(reply);
    answer.errorText = StoreRequest::errorText(reply);
    answer.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    answer.body = StoreRequest::answerBody(reply);
    m_base.logTrace(QStringLiteral("Report trace data result: %1").arg(QString::fromUtf8(answer.body)));
    const TradeRules::Verdict verdict = TradeRules::verdict(answer);
    switch (verdict.outcome) {
    case TradeRules::Outcome::Accepted:
        answered(sent.key);
        kick();
        return;
    case TradeRules::Outcome::Refused:
        answered(sent.key);
        kick();
        m_base.notifyCallback(NV_NOTIFY_TRADE_REFUSED, verdict.msg);
        return;
    case TradeRules::Outcome::InvalidToken:
        tokenRejected(sent);
        return;
    case TradeRules::Outcome::Rejected:
        if (setAsideAfterRejections(sent.key, verdict.reason)) {
            kick();
            return;
        }
        notAnswered(verdict.reason);
        return;
    case TradeRules::Outcome::Unanswered:
        notAnswered(verdict.reason);
        return;
    }
}

// The server answers again: what waited goes out now, a few at a time.
void TradeSender::answered(const QByteArray &key)
{
    m_outbox.remove(key);
    m_rejections.erase(key);
    m_failures = 0;
    m_window = maxInFlight;
    m_retryTimer.stop();
    m_full = false;
    if (m_outbox.count() == 0)
        m_holding = false;
    postNotice();
}

// One wait for the failures of the trades in flight together.
void TradeSender::holdAndWait()
{
    m_holding = true;
    postNotice();
    if (m_retired || m_retryTimer.isActive())
        return;
    const auto config = m_base.config();
    ++m_failures;
    m_window = 1;
    m_retryTimer.start(TradeRules::retryDelayMs(m_failures, config->tradeRetryDelay, config->tradeRetryMaxDelay));
}

void TradeSender::notAnswered(const QString &reason)
{
    holdAndWait();
    m_base.logError(tr("Trade not answered (%1): it stays in the outbox and is sent again in %2 s; held: %3")
                        .arg(reason, seconds(m_retryTimer.remainingTime()))
                        .arg(m_outbox.count()));
}

// Only the token in force ends the session: the answers to the other
// trades sent with it tell nothing new.
void TradeSender::tokenRejected(const InFlight &sent)
{
    holdAndWait();
    m_base.logInfo(tr("Trade answered 401: it stays in the outbox and is sent again after the next login; held: %1")
                       .arg(m_outbox.count()));
    if (!m_retired && sent.token == m_base.sessionToken())
        emit sessionRejected();
}

bool TradeSender::setAsideAfterRejections(const QByteArray &key, const QString &reason)
{
    if (++m_rejections[key] < rejectionsBeforeSetAside)
        return false;
    m_rejections.erase(key);
    m_outbox.setAside(key);
    ++m_setAside;
    m_base.logProblem(tr("Trade set aside after %1 answers of %2: kept in %3/refused/ for an operator (move it back "
                         "into %3 to have it sent again); later trades go on; set aside so far: %4")
                          .arg(rejectionsBeforeSetAside)
                          .arg(reason, m_base.dataDir())
                          .arg(m_setAside));
    m_full = false;
    if (m_outbox.count() == 0)
        m_holding = false;
    postNotice();
    return true;
}

void TradeSender::postNotice()
{
    if (m_noticePosted || m_retired)
        return;
    m_noticePosted = true;
    QMetaObject::invokeMethod(this, [this] { tellHost(); }, Qt::QueuedConnection);
}

// One notice per event, given last: the host may end the library in it.
void TradeSender::tellHost()
{
    m_noticePosted = false;
    if (m_retired)
        return;
    int code = 0;
    QString text;
    if (m_holding != m_toldHolding) {
        m_toldHolding = m_holding;
        code = m_holding ? NV_NOTIFY_TRADES_HELD : NV_NOTIFY_TRADES_ANSWERED;
        text = TradeRules::heldText(m_holding ? m_outbox.count() : 0);
    } else if (m_fullToTell) {
        m_fullToTell = false;
        code = NV_NOTIFY_TRADE_NOT_KEPT;
        text = TradeRules::fullText(m_outbox.count(), m_notKept);
    } else {
        return;
    }
    if (m_holding != m_toldHolding || m_fullToTell)
        postNotice();
    m_base.notifyCallback(code, text);
}

void TradeSender::retire()
{
    m_retired = true;
    m_retryTimer.stop();
}

// Only the replies' own events are delivered, so no host code runs here.
void TradeSender::awaitInFlight(const QDeadlineTimer &deadline)
{
    while (!m_inFlight.empty() && !deadline.hasExpired()) {
        std::vector<QNetworkReply *> replies;
        for (const auto &entry : m_inFlight)
            replies.push_back(entry.first);
        for (QNetworkReply *reply : replies) {
            if (m_inFlight.count(reply))
                QCoreApplication::sendPostedEvents(reply, 0);
        }
        if (!m_inFlight.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(waitStepMs));
    }
    if (!m_inFlight.empty())
        m_base.logInfo(tr("Trades ended without their answer: they stay in the outbox and go out after the next start: %1")
                           .arg(m_inFlight.size()));
}
