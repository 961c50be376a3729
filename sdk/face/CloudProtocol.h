#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The message formats of the cloud face service: request bodies as Qt's
// indented JSON writes them, and the readings of its replies.
namespace CloudProtocol {

// What a search or add reply's "error_code" asks of the chain: go on,
// fetch a new token, end here, try the same request again shortly (too many
// queries a second, or the service busy), or stop calling the service for
// a while (a daily or total quota used up).
enum class Step { Continue, DropToken, End, RetrySoon, PauseCalls };

// The service's answer to a search that matches no one, also for a group
// without faces yet: the face is a new visitor, like an empty "user_list".
constexpr int noMatchingUser = 222207;

struct Match
{
    double score = 0;
    QString userId;
};

QByteArray tokenBody(const QString &clientId, const QString &clientSecret);
// The "access_token" of a reply that is a JSON object; empty otherwise.
QString accessToken(const QByteArray &reply);

QByteArray searchBody(const QString &group, const QByteArray &image, const QString &quality);
QByteArray addBody(const QString &uid, const QString &quality, const QString &group, const QByteArray &image);

// "error_code" as a whole number; missing or not a number reads as 0.
int errorCode(const QJsonObject &reply);
Step stepFor(int errorCode);
// A search reply: 222207 goes on, as a search without a match.
Step searchStepFor(int errorCode);
// The first element of "user_list" in "result"; anything missing gives
// score 0 and no user id.
Match bestMatch(const QJsonObject &reply);

} // namespace CloudProtocol
