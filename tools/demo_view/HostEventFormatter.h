#pragma once

#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QString>

// Turns the JSON lines of the example C host (one per export result and per
// callback) into readable lines, and counts what the host received.
class HostEventFormatter
{
public:
    struct Counts
    {
        int visitors = 0;          // visitor records delivered to the host
        int distinctVisitors = 0;  // different uids among them
        int recognisedAgain = 0;   // records of a uid delivered before
        int loggedIn = 0;          // session callbacks with code 0
        int sessionErrors = 0;     // other session callbacks
        int tradesRefused = 0;     // notices 6109
        int failedCommands = 0;    // exports that did not answer 0
        QMap<int, int> notices;    // by code
    };

    // The readable form of one host line; empty for lines not worth showing.
    QString format(const QByteArray &line);
    const Counts &counts() const { return m_counts; }
    // "name=value" lines, for a shell script to read.
    QString countsText() const;

    static QString noticeName(int code);
    static QString resultName(int code);

private:
    QString formatCommand(const QJsonObject &line);
    QString formatSession(int code, const QString &text);
    QString formatVisitor(const QString &text);

    Counts m_counts;
    QSet<QString> m_uids;
    QString m_lastNotice;
};
