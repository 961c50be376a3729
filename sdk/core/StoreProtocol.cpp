#include "StoreProtocol.h"

#include "JsonText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace {

// A whole JSON number; any other type, or a fractional number, reads as 0.
int wholeNumber(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (number != std::trunc(number) || std::fabs(number) > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(number);
}

QString stringMember(const QJsonObject &object, const char *name)
{
    return object.value(QLatin1String(name)).toString();
}

} // namespace

QJsonObject StoreProtocol::replyObject(const QByteArray &body, bool *isObject)
{
    const QJsonDocument document = JsonText::parse(body);
    if (isObject)
        *isObject = document.isObject();
    return document.object();
}

QByteArray StoreProtocol::loginBody(const QString &storeNumber, const QByteArray &password, const QString &userName)
{
    // Members in this order: Qt's object writes them sorted, which is the same.
    QJsonObject body;
    body.insert(QStringLiteral("mac"), storeNumber);
    body.insert(QStringLiteral("passWord"), QString::fromUtf8(password));
    body.insert(QStringLiteral("userName"), userName);
    return QJsonDocument(body).toJson(QJsonDocument::Indented);
}

StoreProtocol::LoginAnswer StoreProtocol::loginAnswer(const QJsonObject &answer)
{
    LoginAnswer login;
    login.state = wholeNumber(answer.value(QStringLiteral("state")));
    login.msg = stringMember(answer, "msg");
    login.token = stringMember(answer, "token");
    login.brandId = stringMember(answer, "brandId");
    login.labelsText = labelsText(answer.value(QStringLiteral("brandLabelList")));
    return login;
}

QString StoreProtocol::labelsText(const QJsonValue &brandLabelList)
{
    QJsonArray labels;
    const QJsonArray list = brandLabelList.toArray();
    for (const QJsonValue &element : list) {
        const QJsonObject source = element.toObject();
        QJsonObject label;
        for (const QString &name : {QStringLiteral("labelId"), QStringLiteral("labelName")}) {
            if (source.contains(name))
                label.insert(name, source.value(name));
        }
        labels.append(label);
    }
    return QString::fromUtf8(QJsonDocument(labels).toJson(QJsonDocument::Indented));
}

bool StoreProtocol::isMobilePhone(const QString &text)
{
    // Anchored at both ends of the whole text: "$" alone would also accept a
    // number followed by a line break.
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("1[3456789]\\d{9}")));
    return pattern.match(text).hasMatch();
}

QByteArray StoreProtocol::tradeBody(const QString &hostText, const QString &storeNumber)
{
    QJsonObject trade = JsonText::parse(hostText.toUtf8()).object();
    trade.insert(QStringLiteral("mac"), storeNumber);
    const QString phone = QStringLiteral("mobilePhone");
    if (trade.contains(phone) && !isMobilePhone(trade.value(phone).toString()))
        trade.remove(phone);
    return QJsonDocument(trade).toJson(QJsonDocument::Indented);
}

QString StoreProtocol::tradeTextProblem(const QString &hostText)
{
    QJsonParseError error{};
    const QJsonDocument document = JsonText::parse(hostText.toUtf8(), &error);
    if (document.isObject())
        return QString();
    if (document.isArray())
        return QStringLiteral("a JSON array");
    return QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset);
}

int StoreProtocol::tradeState(const QJsonObject &answer)
{
    const QJsonValue state = answer.value(QStringLiteral("state"));
    if (state.isDouble()) {
        const double number = std::trunc(state.toDouble());
        if (std::fabs(number) > std::numeric_limits<int>::max())
            return 0;
        return static_cast<int>(number);
    }
    return state.toString().toInt();
}
