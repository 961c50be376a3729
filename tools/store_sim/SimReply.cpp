#include "SimReply.h"

#include <QJsonDocument>

SimReply SimReply::json(const QJsonObject &object, const std::string &log, int status)
{
    return SimReply{status, QJsonDocument(object).toJson(QJsonDocument::Indented).toStdString(), log};
}

bool parseJsonObject(const std::string &body, QJsonObject &object)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(body), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    object = document.object();
    return true;
}

std::string memberText(const QJsonObject &object, const char *name)
{
    const QJsonValue value = object.value(QLatin1String(name));
    if (value.isString())
        return value.toString().toStdString();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 17).toStdString();
    return std::string();
}
