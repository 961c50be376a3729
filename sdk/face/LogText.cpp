#include "LogText.h"

#include "CloudCredentials.h"

#include <QRegularExpression>

namespace {

const QString mask = QStringLiteral("********");
constexpr int longestKeptRun = 128;
constexpr int keptPrefix = 32;

QString maskSecret(QString text)
{
    static const QRegularExpression secretField(QStringLiteral("(client_secret=)[^&\\s\"]*"));
    text.replace(secretField, QStringLiteral("\\1") + mask);
    const QString secret = CloudCredentials::clientSecret();
    if (!secret.isEmpty())
        text.replace(secret, mask);
    return text;
}

QString cutBase64Runs(const QString &text)
{
    static const QRegularExpression run(
        QStringLiteral("[A-Za-z0-9+/]{%1,}={0,2}").arg(longestKeptRun + 1));
    QString result;
    int copied = 0;
    QRegularExpressionMatchIterator matches = run.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        result += text.midRef(copied, match.capturedStart() - copied);
        result += match.capturedRef().left(keptPrefix);
        result += QStringLiteral("...(%1 chars)").arg(match.capturedLength());
        copied = match.capturedEnd();
    }
    if (copied == 0)
        return text;
    result += text.midRef(copied);
    return result;
}

} // namespace

QString LogText::safe(const QString &text)
{
    return cutBase64Runs(maskSecret(text));
}
