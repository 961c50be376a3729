// The store server's uid and register-user replies: the state, the uid a
// uid reply carries, and the visitor record made from a register-user reply,
// which must be a JSON object whose "type" is one of the two labels.
#include "MemberProtocol.h"
#include "StoreProtocol.h"

#include <QJsonDocument>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray reply(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const QJsonObject answer = StoreProtocol::replyObject(reply);
    MemberProtocol::state(answer);
    MemberProtocol::uid(answer);

    const QString member = QStringLiteral("Member");
    const QString notMember = QStringLiteral("Not member");
    const QJsonDocument record =
        QJsonDocument::fromJson(MemberProtocol::visitorRecord(answer, "/9j/4AAQ", member, notMember).toUtf8());
    const QString type = record.object().value(QStringLiteral("type")).toString();
    if (!record.isObject() || (type != member && type != notMember))
        abort();
    return 0;
}
