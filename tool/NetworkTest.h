#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The wizard's network test: the store server's login request with the
// wizard's own test account. It only asks whether a reply arrives without
// error in time; what the server answers is read, bounded, and discarded.
class NetworkTest
{
public:
    static constexpr int kTimeLimitMs = 10000;
    static constexpr qint64 kMaxReplyBytes = 4 * 1024 * 1024;

    struct Setup
    {
        QString caFile;     // Server/CaFile as an absolute path; none: relaxed TLS
        QString loggerName; // where a reply cut off is logged
    };

    // The login body: members "mac" (the store number as typed), "passWord"
    // and "userName", as indented JSON.
    static QByteArray requestBody(const QString &storeNumber);

    struct Outcome
    {
        bool success = false;
        bool timedOut = false;
        QString error; // what the transport or the server reported
    };

    // Posts the login to loginUrl and waits, dispatching events, until the
    // reply, the time limit or stopped(). A success is a reply without error.
    static Outcome run(const QString &loginUrl, const QString &storeNumber,
                       const std::function<bool()> &stopped, int timeLimitMs = kTimeLimitMs,
                       const Setup &setup = Setup());
};
