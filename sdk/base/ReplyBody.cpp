#include "ReplyBody.h"

#include "NerovaLog.h"

#include <QNetworkReply>
#include <QVariant>

ReplyBody *ReplyBody::attach(QNetworkReply *reply, qint64 capBytes, const QString &loggerName)
{
    reply->setReadBufferSize(readBufferBytes);
    return new ReplyBody(reply, capBytes, loggerName);
}

ReplyBody *ReplyBody::of(const QNetworkReply *reply)
{
    return reply->findChild<ReplyBody *>(QString(), Qt::FindDirectChildrenOnly);
}

ReplyBody::ReplyBody(QNetworkReply *reply, qint64 capBytes, const QString &loggerName)
    : QObject(reply)
    , m_reply(reply)
    , m_cap(capBytes)
    , m_loggerName(loggerName)
{
    connect(reply, &QNetworkReply::metaDataChanged, this, &ReplyBody::checkAnnouncedLength);
    connect(reply, &QIODevice::readyRead, this, &ReplyBody::readAvailable);
}

QString ReplyBody::oversizedText() const
{
    return QStringLiteral("Reply larger than %1 bytes").arg(m_cap);
}

QByteArray ReplyBody::take()
{
    readAvailable();
    return m_oversized ? QByteArray() : std::move(m_body);
}

void ReplyBody::readAvailable()
{
    if (m_oversized)
        return;
    const qint64 available = m_reply->bytesAvailable();
    if (m_body.size() + available > m_cap) {
        cutOff(m_body.size() + available);
        return;
    }
    m_body += m_reply->read(available);
}

// A length announced beyond the cap needs no reading at all.
void ReplyBody::checkAnnouncedLength()
{
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (!m_oversized && length.isValid() && length.toLongLong() > m_cap)
        cutOff(length.toLongLong());
}

void ReplyBody::cutOff(qint64 size)
{
    m_oversized = true;
    m_body.clear();
    m_body.squeeze();
    NerovaLog::error(m_loggerName, QStringLiteral("%1 cut off: %2 (at least %3 bytes); the request failed")
                                       .arg(m_reply->url().toString(QUrl::RemoveQuery), oversizedText())
                                       .arg(size));
    // Not from inside the reply's own signal: the abort finishes the reply,
    // and whoever hears of that may end the reply's owner.
    QMetaObject::invokeMethod(this, [this] { m_reply->abort(); }, Qt::QueuedConnection);
}
