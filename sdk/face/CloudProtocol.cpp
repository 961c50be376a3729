#include "CloudProtocol.h"

#include "StoreProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <limits>

namespace {

QByteArray indented(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

} // namespace

QByteArray CloudProtocol::tokenBody(const QString &clientId, const QString &clientSecret)
{
    return QStringLiteral("grant_type=client_credentials&client_id=%1&client_secret=%2")
        .arg(clientId, clientSecret)
        .toLatin1();
}

QString CloudProtocol::accessToken(const QByteArray &reply)
{
    return StoreProtocol::replyObject(reply).value(QStringLiteral("access_token")).toString();
}

QByteArray CloudProtocol::searchBody(const QString &group, const QByteArray &image, const QString &quality)
{
    QJsonObject body;
    body.insert(QStringLiteral("group_id_list"), group);
    body.insert(QStringLiteral("image_type"), QStringLiteral("BASE64"));
    body.insert(QStringLiteral("image"), QString::fromLatin1(image));
    body.insert(QStringLiteral("quality_control"), quality);
    return indented(body);
}

QByteArray CloudProtocol::addBody(const QString &uid, const QString &quality, const QString &group,
                                  const QByteArray &image)
{
    QJsonObject body;
    body.insert(QStringLiteral("user_id"), uid);
    body.insert(QStringLiteral("quality_control"), quality);
    body.insert(QStringLiteral("group_id"), group);
    body.insert(QStringLiteral("image_type"), QStringLiteral("BASE64"));
    body.insert(QStringLiteral("image"), QString::fromLatin1(image));
    return indented(body);
}

int CloudProtocol::errorCode(const QJsonObject &reply)
{
    const QJsonValue code = reply.value(QStringLiteral("error_code"));
    if (!code.isDouble())
        return 0;
    const double number = std::trunc(code.toDouble());
    if (std::fabs(number) > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(number);
}

namespace {

// The service's own busy answers: 222901 to 222915 so far.
bool isServiceBusy(int errorCode)
{
    return errorCode >= 222900 && errorCode <= 222999;
}

} // namespace

CloudProtocol::Step CloudProtocol::stepFor(int errorCode)
{
    if (isServiceBusy(errorCode))
        return Step::RetrySoon;
    switch (errorCode) {
    case 0:
        return Step::Continue;
    case 100: // invalid parameter: the token
    case 110: // access token invalid
    case 111: // access token expired
        return Step::DropToken;
    case 18: // queries per second over the limit
        return Step::RetrySoon;
    case 4:  // the whole account's quota
    case 17: // the daily quota
    case 19: // the total quota
        return Step::PauseCalls;
    default:
        return Step::End;
    }
}

CloudProtocol::Step CloudProtocol::searchStepFor(int errorCode)
{
    return errorCode == noMatchingUser ? Step::Continue : stepFor(errorCode);
}

CloudProtocol::Match CloudProtocol::bestMatch(const QJsonObject &reply)
{
    const QJsonObject first = reply.value(QStringLiteral("result"))
                                  .toObject()
                                  .value(QStringLiteral("user_list"))
                                  .toArray()
                                  .first()
                                  .toObject();
    return {first.value(QStringLiteral("score")).toDouble(), first.value(QStringLiteral("user_id")).toString()};
}
