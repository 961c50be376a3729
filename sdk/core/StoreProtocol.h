#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The message formats of the store server's login and trade exchanges, as
// plain functions: bodies as Qt's indented JSON writes them, answers read
// with the server's conventions.
class StoreProtocol
{
public:
    struct LoginAnswer
    {
        int state = 0;
        QString msg;
        QString token;
        QString brandId;
        QString labelsText; // indented JSON array of {"labelId", "labelName"}
    };

    // The answer body's object; an empty object when it is not one (isObject,
    // when given, tells which).
    static QJsonObject replyObject(const QByteArray &body, bool *isObject = nullptr);

    static QByteArray loginBody(const QString &storeNumber, const QByteArray &password, const QString &userName);
    static LoginAnswer loginAnswer(const QJsonObject &answer);
    static QString labelsText(const QJsonValue &brandLabelList);

    // The host's trade object with "mac" set to the store number and an
    // invalid "mobilePhone" removed; input that is not an object counts as {}.
    static QByteArray tradeBody(const QString &hostText, const QString &storeNumber);
    // Why the host's trade text is not a JSON object ("not JSON: ...", "a
    // JSON array"); empty when it is one.
    static QString tradeTextProblem(const QString &hostText);
    static bool isMobilePhone(const QString &text);
    // "state" as a number (cut toward zero) or as decimal text; else 0.
    static int tradeState(const QJsonObject &answer);
};
