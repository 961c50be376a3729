#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include "TlsPolicy.h"

#include <atomic>

class QNetworkReply;

// The face worker's blocking POST: it waits on the calling thread, running
// that thread's events, until the answer is in, 15 s have passed since the
// request was handed over, or a stop is requested. The host hears of every
// change between a working and a failing network, and of nothing else.
//
// Threads: used by one thread at a time; each request runs wholly on the
// calling thread, with a network manager of that thread.
class PostJson
{
    Q_DECLARE_TR_FUNCTIONS(PostJson)
public:
    static constexpr int ok = 0;
    static constexpr int failed = 6000;
    static constexpr int deadlineMs = 15000;
    // How often a waiting request looks at the stop flag.
    static constexpr int stopPollMs = 100;

    // networkReady is the network state the host was told last.
    PostJson(const std::atomic<bool> &stopRequested, std::atomic<bool> &networkReady);
    ~PostJson();

    PostJson(const PostJson &) = delete;
    PostJson &operator=(const PostJson &) = delete;

    // reply receives the whole body on success (result 0) and is left
    // alone otherwise (result 6000).
    // tls is the policy of the server asked (the cloud or the member service).
    int send(QByteArray &reply, const QString &url, const QByteArray &body, const TlsPolicy &tls);

    // Shortens the deadline, so that tests need not wait 15 s.
    void setDeadline(int milliseconds) { m_deadlineMs = milliseconds; }

private:
    enum class Outcome { Finished, TimedOut, Stopped };

    Outcome waitFor(QNetworkReply *reply) const;
    int timedOut(const QString &url);
    int failedWith(QNetworkReply *reply, const QString &url, const QByteArray &body);
    int succeeded(QNetworkReply *reply, QByteArray &body);
    void reportNetwork(bool ready, int code, const QString &text);

    const std::atomic<bool> &m_stopRequested;
    std::atomic<bool> &m_networkReady;
    int m_deadlineMs = deadlineMs;
};
