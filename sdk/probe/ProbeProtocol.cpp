#include "ProbeProtocol.h"

#include "StoreProtocol.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

enum class State { Absent, Zero, Other };

// A number, or a number as decimal text; anything else counts as absent.
State stateOf(const QJsonValue &state)
{
    if (state.isDouble())
        return state.toDouble() == 0 ? State::Zero : State::Other;
    bool ok = false;
    const int number = state.toString().trimmed().toInt(&ok);
    if (!state.isString() || !ok)
        return State::Absent;
    return number == 0 ? State::Zero : State::Other;
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
    const State state = stateOf(object.value(QStringLiteral("state")));
    answer.accepted = state == State::Zero;
    answer.refused = state == State::Other;
    return answer;
}
