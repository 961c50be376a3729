// The trade exchange. The first byte chooses the input: the server's trade
// answer, the host's trade text as UTF-8, or the host's text as it crosses
// the C boundary, UTF-32 wchar_t units (any 32-bit value, so invalid code
// points too) up to the first NUL.
#include "StoreProtocol.h"

#include <QJsonDocument>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const QString storeNumber = QStringLiteral("S-0001");

void checkTradeBody(const QString &hostText)
{
    const QJsonDocument body = QJsonDocument::fromJson(StoreProtocol::tradeBody(hostText, storeNumber));
    if (!body.isObject() || body.object().value(QStringLiteral("mac")).toString() != storeNumber)
        abort();
    // A text the log names as no object is sent with "mac" alone.
    if (!StoreProtocol::tradeTextProblem(hostText).isEmpty() && body.object().size() != 1)
        abort();
    const QJsonValue phone = body.object().value(QStringLiteral("mobilePhone"));
    if (!phone.isUndefined() && !StoreProtocol::isMobilePhone(phone.toString()))
        abort();
    StoreProtocol::isMobilePhone(hostText);
}

QString wideText(const uint8_t *data, size_t size)
{
    std::vector<wchar_t> units(size / sizeof(wchar_t) + 1, 0);
    memcpy(units.data(), data, size - size % sizeof(wchar_t));
    return QString::fromWCharArray(units.data());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), static_cast<int>(size - 1));
    switch (data[0] % 3) {
    case 0:
        StoreProtocol::tradeState(StoreProtocol::replyObject(rest));
        break;
    case 1:
        checkTradeBody(QString::fromUtf8(rest));
        break;
    default:
        checkTradeBody(wideText(data + 1, size - 1));
        break;
    }
    return 0;
}
