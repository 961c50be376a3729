#include "HostEventFormatter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

QString exportName(const QString &command)
{
    static const QMap<QString, QString> names{{"init", "NV_Init"},     {"uninit", "NV_Uninit"}, {"start", "NV_Start"},
                                              {"stop", "NV_Stop"},     {"login", "NV_Login"},   {"logout", "NV_Logout"},
                                              {"report", "NV_ReportData"}, {"version", "NV_GetVersion"}};
    return names.value(command);
}

} // namespace

QString HostEventFormatter::noticeName(int code)
{
    switch (code) {
    case 6109: return "trade report refused";
    case 6201: return "camera ready";
    case 6202: return "camera missing";
    case 6203: return "probe device ready";
    case 6204: return "probe device error";
    case 6206: return "network ready";
    case 6207: return "network error";
    default: return "notice";
    }
}

QString HostEventFormatter::resultName(int code)
{
    switch (code) {
    case 0: return "ok";
    case 6001: return "not initialised";
    case 6002: return "initialisation failed";
    case 6003: return "called on another thread than the one that loaded the library";
    case 6005: return "user name or password missing";
    case 6101: return "not logged in";
    default: return "unknown result";
    }
}

QString HostEventFormatter::format(const QByteArray &line)
{
    const QJsonObject object = QJsonDocument::fromJson(line).object();
    if (object.contains("cmd"))
        return formatCommand(object);
    const QString callback = object.value("callback").toString();
    const int code = object.value("code").toInt();
    const QString text = object.value("text").toString();
    if (callback == "session")
        return formatSession(code, text);
    if (callback == "face")
        return formatVisitor(text);
    if (callback == "notify") {
        ++m_counts.notices[code];
        if (code == 6109)
            ++m_counts.tradesRefused;
        // Camera and probe notices repeat at every device check: a repeat is one short line.
        const QString notice = QString("%1 %2").arg(code).arg(noticeName(code));
        const bool repeated = notice + text == m_lastNotice;
        m_lastNotice = notice + text;
        return repeated ? QString("notice   %1 (again)").arg(notice) : QString("notice   %1: %2").arg(notice, text);
    }
    return QString();
}

QString HostEventFormatter::formatCommand(const QJsonObject &line)
{
    const QString name = exportName(line.value("cmd").toString());
    if (name.isEmpty())
        return QString();
    if (line.contains("error")) {
        ++m_counts.failedCommands;
        return QString("host     %1 not called: %2").arg(name, line.value("error").toString());
    }
    if (line.value("result").isString())
        return QString("host     %1 = \"%2\"").arg(name, line.value("result").toString());
    const int result = line.value("result").toInt();
    if (result != 0)
        ++m_counts.failedCommands;
    return QString("host     %1 -> %2 (%3)").arg(name).arg(result).arg(resultName(result));
}

QString HostEventFormatter::formatSession(int code, const QString &text)
{
    if (code != 0) {
        ++m_counts.sessionErrors;
        return QString("session  %1: %2").arg(code).arg(text);
    }
    ++m_counts.loggedIn;
    QStringList labels;
    for (const QJsonValue &label : QJsonDocument::fromJson(text.toUtf8()).array())
        labels << label.toObject().value("labelName").toVariant().toString();
    return QString("session  logged in; the brand's labels: %1").arg(labels.isEmpty() ? "none" : labels.join(", "));
}

QString HostEventFormatter::formatVisitor(const QString &text)
{
    if (text.isEmpty())
        return "visitor  the face has left the picture";
    const QJsonObject record = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString uid = record.value("uid").toVariant().toString();
    ++m_counts.visitors;
    const bool seenBefore = !uid.isEmpty() && m_uids.contains(uid);
    if (seenBefore)
        ++m_counts.recognisedAgain;
    else if (!uid.isEmpty())
        m_uids.insert(uid);
    m_counts.distinctVisitors = m_uids.size();
    QStringList details;
    for (auto member = record.begin(); member != record.end(); ++member) {
        if (member.key() != "image" && member.key() != "uid" && member.key() != "type")
            details << member.key() + " " + member.value().toVariant().toString();
    }
    return QString("visitor  %1 (%2), %3; %4; face image %5 KB of Base64 PNG")
        .arg(uid.isEmpty() ? "without uid" : uid, record.value("type").toString(),
             seenBefore ? "recognised again" : "first time in this run", details.join(", "))
        .arg(record.value("image").toString().size() / 1024);
}

QString HostEventFormatter::countsText() const
{
    QString text = QString("visitors=%1\ndistinctVisitors=%2\nrecognisedAgain=%3\nloggedIn=%4\nsessionErrors=%5\n"
                           "tradesRefused=%6\nfailedCommands=%7\n")
                       .arg(m_counts.visitors)
                       .arg(m_counts.distinctVisitors)
                       .arg(m_counts.recognisedAgain)
                       .arg(m_counts.loggedIn)
                       .arg(m_counts.sessionErrors)
                       .arg(m_counts.tradesRefused)
                       .arg(m_counts.failedCommands);
    for (auto notice = m_counts.notices.begin(); notice != m_counts.notices.end(); ++notice)
        text += QString("notice%1=%2\n").arg(notice.key()).arg(notice.value());
    return text;
}
