#include "PostJson.h"

#include "NerovaBase.h"
#include "StoreRequest.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <memory>

namespace {

// Aborted or not, a reply is deleted at once: the calling thread may not
// run an event loop that would deliver a later deletion.
struct ReplyDeleter
{
    void operator()(QNetworkReply *reply) const
    {
        QObject::disconnect(reply, nullptr, nullptr, nullptr);
        reply->abort();
        delete reply;
    }
};

} // namespace

PostJson::PostJson(const std::atomic<bool> &stopRequested, std::atomic<bool> &networkReady)
    : m_stopRequested(stopRequested)
    , m_networkReady(networkReady)
{
}

PostJson::~PostJson() = default;

int PostJson::send(QByteArray &reply, const QString &url, const QByteArray &body, const TlsPolicy &tls)
{
    // No transfer time-out: the deadline below counts from the hand-over
    // and is not pushed back by a trickling answer.
    const QNetworkRequest request = StoreRequest::make(url, 0, tls);
    // A manager of the calling thread for this request alone, so that the
    // object may serve a later loop on another thread of the pool.
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply, ReplyDeleter> answer(StoreRequest::post(manager, request, body));
    switch (waitFor(answer.get())) {
    case Outcome::TimedOut:
        return timedOut(url);
    case Outcome::Stopped:
        NerovaBase::instance()->logTrace(QStringLiteral("%1(Stopped)").arg(url));
        return failed;
    case Outcome::Finished:
        break;
    }
    if (StoreRequest::errorNumber(answer.get()) != QNetworkReply::NoError)
        return failedWith(answer.get(), url, body);
    return succeeded(answer.get(), reply);
}

PostJson::Outcome PostJson::waitFor(QNetworkReply *reply) const
{
    const QDeadlineTimer deadline(m_deadlineMs);
    if (reply->isFinished())
        return Outcome::Finished;
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer deadlineTimer;
    deadlineTimer.setSingleShot(true);
    deadlineTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadlineTimer, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadlineTimer.start(m_deadlineMs);
    QTimer stopPoll;
    QObject::connect(&stopPoll, &QTimer::timeout, &loop, [&] {
        if (m_stopRequested)
            loop.quit();
    });
    stopPoll.start(stopPollMs);
    while (!reply->isFinished() && !deadline.hasExpired() && !m_stopRequested)
        loop.exec();
    if (reply->isFinished())
        return Outcome::Finished;
    return m_stopRequested ? Outcome::Stopped : Outcome::TimedOut;
}

int PostJson::timedOut(const QString &url)
{
    NerovaBase::instance()->logError(QStringLiteral("%1(Timeout)").arg(url));
    reportNetwork(false, NV_NOTIFY_NETWORK_ERROR, tr("Network error (timeout)"));
    return failed;
}

int PostJson::failedWith(QNetworkReply *reply, const QString &url, const QByteArray &body)
{
    const int error = StoreRequest::errorNumber(reply);
    const QString errorText = StoreRequest::errorText(reply);
    NerovaBase::instance()->logError(QStringLiteral("%1(%2, %3, %4)")
                                         .arg(url, QString::fromUtf8(body),
                                              QString::number(error), errorText));
    reportNetwork(false, NV_NOTIFY_NETWORK_ERROR, tr("Network error (%1)").arg(error));
    return failed;
}

int PostJson::succeeded(QNetworkReply *reply, QByteArray &body)
{
    body = StoreRequest::answerBody(reply);
    reportNetwork(true, NV_NOTIFY_NETWORK_READY, tr("Network ready"));
    return ok;
}

// The host's callback comes last: it may call back into the library.
void PostJson::reportNetwork(bool ready, int code, const QString &text)
{
    if (m_networkReady.exchange(ready) != ready)
        NerovaBase::instance()->notifyCallback(code, text);
}
