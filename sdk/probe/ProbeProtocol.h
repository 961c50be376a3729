#pragma once

#include <QByteArray>
#include <QString>

// The probe upload exchange with the store server, as plain functions.
class ProbeProtocol
{
public:
    struct Answer
    {
        int state = 0;
        QString msg;
        // The server took the records: "state" is present and 0.
        bool accepted = false;
        // The server turned the records down: "state" is a number (or
        // decimal text) other than 0. An answer without one is a broken
        // server, not a refusal.
        bool refused = false;
    };

    // {"mac": store number, "macData": Base64 of the archive}, indented JSON.
    static QByteArray uploadBody(const QString &storeNumber, const QByteArray &archive);
    static Answer answer(const QByteArray &body);
};
