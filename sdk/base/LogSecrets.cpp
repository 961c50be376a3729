#include "LogSecrets.h"

#include <QMutex>
#include <QUrl>

namespace {

struct Registry
{
    QMutex mutex;
    LogSecrets::Known known;
    QStringList phoneOrder; // oldest first
};

// Made at the latest by NerovaLog::makeLevels, so that it outlives an exit
// handler that logs; freed when the library is unloaded.
Registry &registry()
{
    static Registry instance;
    return instance;
}

void keepNewest(QStringList &list, const QString &value, int kept)
{
    list.removeAll(value);
    list.append(value);
    while (list.size() > kept)
        list.removeFirst();
}

QString digitsOf(const QString &text)
{
    QString digits;
    for (const QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits += c;
    }
    return digits;
}

} // namespace

void LogSecrets::rememberSecret(const QString &value)
{
    if (value.size() < shortestSecret)
        return;
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(value));
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    keepNewest(r.known.secrets, value, 2 * secretsKept);
    if (encoded != value)
        keepNewest(r.known.secrets, encoded, 2 * secretsKept);
}

void LogSecrets::rememberPhone(const QString &value)
{
    const QString digits = digitsOf(value);
    if (digits.size() < shortestPhone)
        return;
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    if (r.known.phones.contains(digits))
        return;
    r.known.phones.insert(digits);
    r.phoneOrder.append(digits);
    if (r.phoneOrder.size() > phonesKept)
        r.known.phones.remove(r.phoneOrder.takeFirst());
}

LogSecrets::Known LogSecrets::known()
{
    Registry &r = registry();
    QMutexLocker lock(&r.mutex);
    return r.known;
}
