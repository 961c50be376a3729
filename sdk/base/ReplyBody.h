#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class QNetworkReply;

// A network reply's body, read while it arrives into a buffer bounded by a
// cap. Qt's network thread reads no further ahead than a small read buffer,
// so a server that sends without end is held back by TCP, not by memory;
// past the cap the reply is aborted (an ERROR line on the given logger) and
// counts as cancelled, like any failed request.
class ReplyBody : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 readBufferBytes = 64 * 1024;

    // Bounds the reading of reply, which must have been posted just now.
    static ReplyBody *attach(QNetworkReply *reply, qint64 capBytes, const QString &loggerName);
    // What attach() gave for reply; null for a reply it was not given.
    static ReplyBody *of(const QNetworkReply *reply);

    bool isOversized() const { return m_oversized; }
    QString oversizedText() const;
    // Everything the reply sent; empty once it was cut off.
    QByteArray take();

private:
    ReplyBody(QNetworkReply *reply, qint64 capBytes, const QString &loggerName);
    void readAvailable();
    void checkAnnouncedLength();
    void cutOff(qint64 size);

    QNetworkReply *m_reply;
    const qint64 m_cap;
    const QString m_loggerName;
    QByteArray m_body;
    bool m_oversized = false;
};
