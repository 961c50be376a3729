// The store server's login answer: whatever the body, reading it gives an
// answer, and the label text handed to the host is a JSON array with one
// object per element of the server's list.
#include "StoreProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), static_cast<int>(size));
    const QJsonObject answer = StoreProtocol::replyObject(body);
    const StoreProtocol::LoginAnswer login = StoreProtocol::loginAnswer(answer);

    const QJsonDocument labels = QJsonDocument::fromJson(login.labelsText.toUtf8());
    const QJsonValue list = answer.value(QStringLiteral("brandLabelList"));
    if (!labels.isArray() || labels.array().size() != (list.isArray() ? list.toArray().size() : 0))
        abort();
    for (const QJsonValue &label : labels.array()) {
        if (!label.isObject() || label.toObject().size() > 2)
            abort();
    }
    return 0;
}
