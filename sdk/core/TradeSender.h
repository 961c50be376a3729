#pragma once

#include "TradeOutbox.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <map>

class NerovaBase;
class QNetworkAccessManager;
class QNetworkReply;

// Sends the trades of the outbox to the store server, oldest first, a few
// at a time, each with its key in the Idempotency-Key header, and takes a
// trade out only when the server has answered it: accepted, or refused
// (the host hears 6109). A trade the server did not answer stays and is
// sent again after a wait that doubles with each failure in a row; while
// that lasts, one trade at a time goes out. A 401 ends the session once,
// and the trade waits for the next login. The host hears 6110 when trades
// are first held, 6111 when the outbox is empty again and 6112 when a
// trade was not kept, each once per change, always from its loop.
//
// Lives on the host thread; report() may be called from any thread.
class TradeSender : public QObject
{
    Q_OBJECT
public:
    static constexpr int maxInFlight = 4;
    // Answers of another HTTP 4xx without JSON before a trade is set aside.
    static constexpr int rejectionsBeforeSetAside = 3;

    TradeSender(NerovaBase &base, TradeOutbox &outbox, QNetworkAccessManager &network, int requestTimeoutMs);
    ~TradeSender() override;

    void setRequestTimeout(int milliseconds) { m_requestTimeoutMs = milliseconds; }
    // From any thread: the built body goes into the outbox now; sending
    // and any notice follow from the host's loop.
    void report(const QByteArray &body);
    // A login was accepted: held trades go out with its token.
    void sessionOpened();
    bool isTradeReply(QNetworkReply *reply) const { return m_inFlight.count(reply) > 0; }
    // A trade's reply has finished; the host's callback, if any, comes last.
    void TriggerTradeAnswer(QNetworkReply *reply);
    // NV_Uninit: nothing more goes out and the host hears nothing more.
    void retire();
    // Lets the answers of the trades in flight come in until the deadline;
    // the trades without one stay in the outbox for the next start.
    void awaitInFlight(const QDeadlineTimer &deadline);

signals:
    // A trade's answer rejected the token of the session in force.
    void sessionRejected();

public slots:
    void TriggerRetry();

private:
    struct InFlight
    {
        QByteArray key;
        QString token;
    };

    void kick();
    void send(const TradeOutbox::Trade &trade, const QString &token, const QString &tradeUrl);
    bool isInFlight(const QByteArray &key) const;
    void reported(bool kept, int notKept);
    void answered(const QByteArray &key);
    void notAnswered(const QString &reason);
    void tokenRejected(const InFlight &sent);
    bool setAsideAfterRejections(const QByteArray &key, const QString &reason);
    void holdAndWait();
    void postNotice();
    void tellHost();

    NerovaBase &m_base;
    TradeOutbox &m_outbox;
    QNetworkAccessManager &m_network;
    int m_requestTimeoutMs;
    std::map<QNetworkReply *, InFlight> m_inFlight;
    std::map<QByteArray, int> m_rejections;
    QTimer m_retryTimer;
    int m_failures = 0;
    int m_window = maxInFlight;
    int m_setAside = 0;
    bool m_retired = false;
    // What the host was told, and what it is to be told.
    bool m_holding = false;
    bool m_toldHolding = false;
    bool m_full = false;
    bool m_fullToTell = false;
    int m_notKept = 0;
    bool m_noticePosted = false;
};
