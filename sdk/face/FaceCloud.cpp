#include "FaceCloud.h"

#include "CloudCredentials.h"
#include "CloudProtocol.h"
#include "LogText.h"
#include "MemberProtocol.h"
#include "NerovaBase.h"
#include "StoreProtocol.h"

#include <QUrl>

namespace {

NerovaBase &base()
{
    return *NerovaBase::instance();
}

QString queryValue(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QString replyText(const QByteArray &reply)
{
    return LogText::safe(QString::fromUtf8(reply));
}

} // namespace

FaceCloud::FaceCloud(const std::atomic<bool> &stopRequested)
    : m_post(stopRequested, m_networkReady)
{
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
    if (m_post.send(reply, base().config()->faceTokenServer, body) != PostJson::ok)
        return;
    base().logTrace(QStringLiteral("Login to Baidu %1").arg(LogText::safe(QString::fromUtf8(reply).left(50))));
    m_accessToken = CloudProtocol::accessToken(reply);
}

void FaceCloud::SearchFace(const QByteArray &faceImage)
{
    m_faceImage = faceImage;
    const auto config = base().config();
    const QByteArray body = CloudProtocol::searchBody(config->baiduGroup, m_faceImage, config->baiduSearchQuality);
    QByteArray reply;
    if (m_post.send(reply, cloudUrl(config->faceSearchUrl), body) != PostJson::ok)
        return;
    base().logTrace(QStringLiteral("Search Face from Baidu %1 (%2, %3)")
                        .arg(replyText(reply), config->baiduSearchQuality, config->baiduGroup));
    const QJsonObject answer = StoreProtocol::replyObject(reply);
    if (!acceptCloudReply(answer, CloudProtocol::searchStepFor))
        return;
    const CloudProtocol::Match match = CloudProtocol::bestMatch(answer);
    if (match.score < config->baiduThreshold) {
        RequestUid();
        return;
    }
    if (!match.userId.isEmpty())
        RegisterUser(match.userId);
}

void FaceCloud::AddFace(const QString &uid)
{
    const auto config = base().config();
    const QByteArray body = CloudProtocol::addBody(uid, config->baiduRegisterQuality, config->baiduGroup, m_faceImage);
    QByteArray reply;
    if (m_post.send(reply, cloudUrl(config->faceAddUrl), body) != PostJson::ok)
        return;
    base().logTrace(QStringLiteral("Register Face to Baidu %1 (%2, %3, %4)")
                        .arg(replyText(reply), QString(), config->baiduSearchQuality, config->baiduGroup));
    if (acceptCloudReply(StoreProtocol::replyObject(reply), CloudProtocol::stepFor))
        RegisterUser(uid);
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
    case CloudProtocol::Step::End:
        return false;
    }
    return false;
}

void FaceCloud::RequestUid()
{
    const auto config = base().config();
    QByteArray reply;
    if (m_post.send(reply, memberUrl(config->uidUrl), MemberProtocol::uidBody(config->deviceId)) != PostJson::ok)
        return;
    base().logTrace(QStringLiteral("Request Uid %1 (%2)").arg(replyText(reply), config->deviceId));
    const QJsonObject answer = StoreProtocol::replyObject(reply);
    if (answer.isEmpty())
        return;
    const int state = MemberProtocol::state(answer);
    if (state == MemberProtocol::stateInvalidToken) {
        base().requestSessionEnd();
        return;
    }
    const QString uid = MemberProtocol::uid(answer);
    if (state == 0 && !uid.isEmpty())
        AddFace(uid);
}

void FaceCloud::RegisterUser(const QString &uid)
{
    const auto config = base().config();
    QByteArray reply;
    if (m_post.send(reply, memberUrl(config->addUserUrl), MemberProtocol::userBody(config->deviceId, uid))
        != PostJson::ok)
        return;
    base().logTrace(QStringLiteral("Register user %1, %2 (%3)").arg(config->deviceId, uid, replyText(reply)));
    const QJsonObject answer = StoreProtocol::replyObject(reply);
    if (answer.isEmpty())
        return;
    if (MemberProtocol::state(answer) == MemberProtocol::stateInvalidToken) {
        base().requestSessionEnd();
        return;
    }
    base().faceCallback(MemberProtocol::visitorRecord(answer, m_faceImage, tr("Member"), tr("Not member")));
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
