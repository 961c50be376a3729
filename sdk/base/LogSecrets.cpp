#include "LogSecrets.h"

#include <QUrl>

#include <algorithm>
#include <deque>
#include <mutex>

namespace {

struct Registry
{
    std::mutex mutex; // not QMutex: ThreadSanitizer sees this one
    LogSecrets::Known known;
    std::deque<QString> phoneOrder; // oldest first
};

// Made at the latest by NerovaLog::makeLevels, so that it outlives an exit
// handler that logs; freed when the library is unloaded.
Registry &registry()
{
    static Registry instance;
    return instance;
}

void keepNewest(std::vector<QString> &list, const QString &value, std::size_t kept)
{
    list.erase(std::remove(list.begin(), list.end(), value), list.end());
    list.push_back(value);
    if (list.size() > kept)
        list.erase(list.begin(), list.end() - kept);
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
    std::lock_guard<std::mutex> lock(r.mutex);
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
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!r.known.phones.insert(digits).second)
        return;
    r.phoneOrder.push_back(digits);
    if (r.phoneOrder.size() > static_cast<std::size_t>(phonesKept)) {
        r.known.phones.erase(r.phoneOrder.front());
        r.phoneOrder.pop_front();
    }
}

LogSecrets::Known LogSecrets::known()
{
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.known;
}
