#include "ProbeProtocol.h"

#include "StoreProtocol.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

// 0 as a number or as decimal text; an absent or other "state" is not.
bool isZeroState(const QJsonValue &state)
{
    if (state.isDouble())
        return state.toDouble() == 0;
    bool ok = false;
    const int number = state.toString().trimmed().toInt(&ok);
    return state.isString() && ok && number == 0;
}

} // namespace

QByteArray ProbeProtocol::uploadBody(const QString &storeNumber, const QByteArray &archive)
{
    QJsonObject body;
    body.insert(QStringLiteral("mac"), storeNumber);
    body.insert(QStringLiteral("macData"), QString::fromLatin1(archive.toBase64()));
    return QJsonDocument(body).toJson(QJsonDocument::Indented);
}

ProbeProtocol::Answer ProbeProtocol::answer(const QByteArray &body)
{
    const QJsonObject object = StoreProtocol::replyObject(body);
    Answer answer;
    answer.state = StoreProtocol::tradeState(object);
    answer.msg = object.value(QStringLiteral("msg")).toString();
    answer.accepted = isZeroState(object.value(QStringLiteral("state")));
    return answer;
}
