#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// The message formats of the store server's member service: the uid
// request, the user report and the visitor record handed to the host.
namespace MemberProtocol {

constexpr int stateInvalidToken = 401;

QByteArray uidBody(const QString &storeNumber);
QByteArray userBody(const QString &storeNumber, const QString &uid);

// "state" as a number (cut toward zero) or as decimal text; else 0.
int state(const QJsonObject &reply);
// The uid a uid reply hands out: "uid" when it is text, else empty.
QString uid(const QJsonObject &reply);
// The phone numbers of the reply's "userInfo": the texts and numbers of
// its members whose names say phone (LogText::isPhoneName).
QStringList phones(const QJsonObject &reply);
// The reply's "userInfo" with "type" (notMember when its trimmed
// "userType" is exactly notMember, else member) and "image" set, as
// indented JSON.
QString visitorRecord(const QJsonObject &reply, const QByteArray &image, const QString &member,
                      const QString &notMember);

} // namespace MemberProtocol
