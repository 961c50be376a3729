#include "MemberProtocol.h"

#include "LogText.h"
#include "StoreProtocol.h"

#include <QJsonDocument>

QByteArray MemberProtocol::uidBody(const QString &storeNumber)
{
    QJsonObject body;
    body.insert(QStringLiteral("mac"), storeNumber);
    return QJsonDocument(body).toJson(QJsonDocument::Indented);
}

QByteArray MemberProtocol::userBody(const QString &storeNumber, const QString &uid)
{
    QJsonObject body;
    body.insert(QStringLiteral("mac"), storeNumber);
    body.insert(QStringLiteral("uid"), uid);
    return QJsonDocument(body).toJson(QJsonDocument::Indented);
}

int MemberProtocol::state(const QJsonObject &reply)
{
    // The store server writes "state" the same way in every answer.
    return StoreProtocol::tradeState(reply);
}

QString MemberProtocol::uid(const QJsonObject &reply)
{
    return reply.value(QStringLiteral("uid")).toString();
}

QStringList MemberProtocol::phones(const QJsonObject &reply)
{
    QStringList found;
    const QJsonObject userInfo = reply.value(QStringLiteral("userInfo")).toObject();
    for (auto member = userInfo.begin(); member != userInfo.end(); ++member) {
        if (!LogText::isPhoneName(member.key()))
            continue;
        const QJsonValue value = member.value();
        found << (value.isDouble() ? QString::number(value.toDouble(), 'f', 0) : value.toString());
    }
    return found;
}

QString MemberProtocol::visitorRecord(const QJsonObject &reply, const QByteArray &image, const QString &member,
                                      const QString &notMember)
{
    QJsonObject record = reply.value(QStringLiteral("userInfo")).toObject();
    const QString userType = record.value(QStringLiteral("userType")).toString().trimmed();
    record.insert(QStringLiteral("type"), userType == notMember ? notMember : member);
    record.insert(QStringLiteral("image"), QString::fromLatin1(image));
    return QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Indented));
}
