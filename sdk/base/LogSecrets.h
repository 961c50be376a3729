#pragma once

#include <QString>

#include <set>
#include <vector>

// The secrets and phone numbers the process has learnt (passwords, tokens,
// members' phones), so that LogText masks them wherever they turn up in a
// log line, named or not. Both lists are bounded: the newest are kept.
//
// Thread-safe: the face worker's thread logs and learns too. The lists are
// standard containers, copied whole for each reader: Qt's shared ones are
// changed in place once unshared, which ThreadSanitizer cannot follow.
class LogSecrets
{
public:
    struct Known
    {
        std::vector<QString> secrets; // also each one's percent-encoded form
        std::set<QString> phones;     // the digits of each phone
    };

    // Values shorter than this are not remembered: masking every "1234"
    // would make the log unreadable, and named fields are masked anyway.
    static constexpr int shortestSecret = 6;
    static constexpr int secretsKept = 8;
    // Fewer digits than this are no phone number.
    static constexpr int shortestPhone = 7;
    static constexpr int phonesKept = 1024;

    static void rememberSecret(const QString &value);
    static void rememberPhone(const QString &value);
    static Known known();
};
