#pragma once

#include <QList>
#include <QString>

// A Log4j DatePattern ("'.'yyyy-MM-dd"): quoted parts are literal text,
// "''" is a quote, and each run of unquoted characters holding a letter is
// a date field ("yyyy-MM-dd"); an unquoted run without a letter is text.
namespace DatePattern {

struct Part
{
    bool isField;
    QString text;
};

QList<Part> parts(const QString &pattern);

// A regular expression for every text the pattern formats: each letter run
// of a field stands for a run of word characters, the rest is literal.
QString regex(const QString &pattern);

} // namespace DatePattern
