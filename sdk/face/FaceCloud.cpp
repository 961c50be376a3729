#include "FaceCloud.h"

#include "CloudCredentials.h"
#include "CloudProtocol.h"
#include "LogSecrets.h"
#include "MemberProtocol.h"
#include "NerovaBase.h"
#include "StoreProtocol.h"
#include "StoreRequest.h"

#include <QThread>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace {

NerovaBase &base()
{
    return *NerovaBase::instance();
}

QString queryValue(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

// The log masks what is secret in it.
QString replyText(const QByteArray &reply)
{
    return QString::fromUtf8(reply);
}

} // namespace

FaceCloud::FaceCloud(const std::atomic<bool> &stopRequested)
    : m_post(stopRequested, m_networkReady)
    , m_stopRequested(stopRequested)
{
    LogSecrets::rememberSecret(CloudCredentials::clientSecret());
    m_clock.start();
}

FaceCloud::~FaceCloud() = default;

bool FaceCloud::hasToken() const
{
    return !m_accessToken.isEmpty();
}

void FaceCloud::RequestToken()
{
    m_accessToken.clear();
    const QByteArray body = CloudProtocol::tokenBody(CloudCredentials::clientId(), CloudCredentials::clientSecret());
    QByteArray reply;
    if (m_post.send(reply, base().config()->faceTokenServer, body, StoreRequest::tlsFor(StoreRequest::Peer::Cloud)) != PostJson::ok)
        return;
    base().logTrace(QStringLiteral("Login to Baidu %1").arg(QString::fromUtf8(reply).left(50)));
    m_accessToken = CloudProtocol::accessToken(reply);
    LogSecrets::rememberSecret(m_accessToken);
}

FaceCloud::Outcome FaceCloud::SearchFace(const QByteArray &faceImage)
{
    if (isPaused()) {
        ++m_counts.notSearched;
        return Outcome::Paused;
    }
    m_faceImage = faceImage;
    const auto config = base().config();
    const QByteArray body = CloudProtocol::searchBody(config->baiduGroup, m_faceImage, config->baiduSearchQuality);
    const QJsonObject answer = askCloud(Ask::Search, cloudUrl(config->faceSearchUrl), body);
    if (!acceptCloudReply(answer, CloudProtocol::searchStepFor))
        return endOfChain();
    const CloudProtocol::Match match = CloudProtocol::bestMatch(answer);
    if (match.score < config->baiduThreshold)
        return RequestUid();
    if (!match.userId.isEmpty())
        return RegisterUser(match.userId);
    return Outcome::NotReported;
}

FaceWorkerCounts FaceCloud::takeCounts()
{
    FaceWorkerCounts counts;
    std::swap(counts, m_counts);
    return counts;
}

FaceCloud::Outcome FaceCloud::AddFace(const QString &uid)
{
    const auto config = base().config();
    const QByteArray body = CloudProtocol::addBody(uid, config->baiduRegisterQuality, config->baiduGroup, m_faceImage);
    if (acceptCloudReply(askCloud(Ask::Add, cloudUrl(config->faceAddUrl), body), CloudProtocol::stepFor))
        return RegisterUser(uid);
    return endOfChain();
}

QJsonObject FaceCloud::askCloud(Ask ask, const QString &url, const QByteArray &body)
{
    for (int attempt = 0;; ++attempt) {
        if (ask == Ask::Search)
            ++m_counts.searches;
        QByteArray reply;
        if (m_post.send(reply, url, body, StoreRequest::tlsFor(StoreRequest::Peer::Cloud)) != PostJson::ok)
            return QJsonObject();
        logReply(ask, reply);
        const QJsonObject answer = StoreProtocol::replyObject(reply);
        const int code = CloudProtocol::errorCode(answer);
        if (code != 0 && code != CloudProtocol::noMatchingUser)
            ++m_counts.cloudErrors[code];
        if (answer.isEmpty() || CloudProtocol::stepFor(code) != CloudProtocol::Step::RetrySoon
            || attempt == busyRetries || m_stopRequested)
            return answer;
        base().logTrace(QStringLiteral("The cloud face service is busy (%1): the same face again in %2 ms")
                            .arg(code)
                            .arg(busyPauseMs));
        waitBeforeRetry();
    }
}

void FaceCloud::logReply(Ask ask, const QByteArray &reply) const
{
    const auto config = base().config();
    if (ask == Ask::Search)
        base().logTrace(QStringLiteral("Search Face from Baidu %1 (%2, %3)")
                            .arg(replyText(reply), config->baiduSearchQuality, config->baiduGroup));
    else
        base().logTrace(QStringLiteral("Register Face to Baidu %1 (%2, %3, %4)")
                            .arg(replyText(reply), QString(), config->baiduSearchQuality, config->baiduGroup));
}

// A reply that is not a JSON object, or an empty one, is ignored.
bool FaceCloud::acceptCloudReply(const QJsonObject &reply, CloudProtocol::Step (*stepFor)(int))
{
    if (reply.isEmpty())
        return false;
    switch (stepFor(CloudProtocol::errorCode(reply))) {
    case CloudProtocol::Step::Continue:
        return true;
    case CloudProtocol::Step::DropToken:
        m_accessToken.clear();
        return false;
    case CloudProtocol::Step::PauseCalls:
        startQuotaPause(reply);
        return false;
    case CloudProtocol::Step::RetrySoon:
    case CloudProtocol::Step::End:
        return false;
    }
    return false;
}

bool FaceCloud::isPaused() const
{
    return m_pauseEndsMs >= 0 && m_clock.elapsed() < m_pauseEndsMs;
}

void FaceCloud::startQuotaPause(const QJsonObject &reply)
{
    const int seconds = std::max(0, base().config()->quotaPause);
    m_pauseEndsMs = m_clock.elapsed() + seconds * qint64(1000);
    const int code = CloudProtocol::errorCode(reply);
    const QString message = reply.value(QStringLiteral("error_msg")).toString().left(200);
    base().logError(QStringLiteral("The cloud face service's quota is used up (error %1: %2): no face is searched "
                                   "for %3 s (Baidu/QuotaPause), faces seen meanwhile are only counted. Check the "
                                   "service's daily and total limits.")
                        .arg(QString::number(code), message, QString::number(seconds)));
    m_pauseNotice = tr("Cloud face service quota used up (error %1): no face is searched for %2 s")
                        .arg(code)
                        .arg(seconds);
}

// The host hears of a pause that has just begun as the chain ends.
FaceCloud::Outcome FaceCloud::endOfChain()
{
    if (m_pauseNotice.isEmpty())
        return Outcome::NotReported;
    const QString notice = m_pauseNotice;
    m_pauseNotice.clear();
    base().notifyCallback(NV_NOTIFY_CLOUD_QUOTA, notice);
    return Outcome::Paused;
}

void FaceCloud::waitBeforeRetry()
{
    QElapsedTimer waited;
    waited.start();
    while (!m_stopRequested && waited.elapsed() < busyPauseMs)
        QThread::msleep(10);
}

FaceCloud::Outcome FaceCloud::RequestUid()
{
    const auto config = base().config();
    QByteArray reply;
    if (m_post.send(reply, memberUrl(config->uidUrl), MemberProtocol::uidBody(config->deviceId), StoreRequest::tlsFor(StoreRequest::Peer::StoreServer)) != PostJson::ok)
        return Outcome::NotReported;
    base().logTrace(QStringLiteral("Request Uid %1 (%2)").arg(replyText(reply), config->deviceId));
    const QJsonObject answer = StoreProtocol::replyObject(reply);
    if (answer.isEmpty())
        return Outcome::NotReported;
    const int state = MemberProtocol::state(answer);
    if (state == MemberProtocol::stateInvalidToken) {
        base().requestSessionEnd();
        return Outcome::NotReported;
    }
    const QString uid = MemberProtocol::uid(answer);
    if (state == 0 && !uid.isEmpty())
        return AddFace(uid);
    return Outcome::NotReported;
}

FaceCloud::Outcome FaceCloud::RegisterUser(const QString &uid)
{
    const auto config = base().config();
    QByteArray reply;
    ++m_counts.reports;
    if (m_post.send(reply, memberUrl(config->addUserUrl), MemberProtocol::userBody(config->deviceId, uid),
                    StoreRequest::tlsFor(StoreRequest::Peer::StoreServer))
        != PostJson::ok)
        return Outcome::NotReported;
    const QJsonObject answer = StoreProtocol::replyObject(reply);
    for (const QString &phone : MemberProtocol::phones(answer))
        LogSecrets::rememberPhone(phone);
    base().logTrace(QStringLiteral("Register user %1, %2 (%3)").arg(config->deviceId, uid, replyText(reply)));
    if (answer.isEmpty())
        return Outcome::NotReported;
    if (MemberProtocol::state(answer) == MemberProtocol::stateInvalidToken) {
        base().requestSessionEnd();
        return Outcome::NotReported;
    }
    base().faceCallback(MemberProtocol::visitorRecord(answer, m_faceImage, tr("Member"), tr("Not member")));
    return Outcome::Reported;
}

// The access token is percent-encoded, so that no character of it can
// change the meaning of the address.
QString FaceCloud::cloudUrl(const QString &address) const
{
    return address + QStringLiteral("?access_token=") + queryValue(m_accessToken);
}

QString FaceCloud::memberUrl(const QString &address)
{
    return address + QStringLiteral("?token=") + queryValue(base().sessionToken());
}
