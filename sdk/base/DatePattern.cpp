#include "DatePattern.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

void appendRun(QList<DatePattern::Part> &parts, QString &run)
{
    if (run.isEmpty())
        return;
    const bool isField = std::any_of(run.begin(), run.end(), [](QChar c) { return c.isLetter(); });
    parts.append({isField, run});
    run.clear();
}

void appendText(QList<DatePattern::Part> &parts, const QString &text)
{
    if (!parts.isEmpty() && !parts.last().isField)
        parts.last().text += text;
    else
        parts.append({false, text});
}

QString fieldRegex(const QString &field)
{
    QString regex;
    for (int i = 0; i < field.size(); ++i) {
        if (!field[i].isLetter()) {
            regex += QRegularExpression::escape(QString(field[i]));
            continue;
        }
        regex += QLatin1String("\\w+");
        while (i + 1 < field.size() && field[i + 1].isLetter())
            ++i;
    }
    return regex;
}

} // namespace

QList<DatePattern::Part> DatePattern::parts(const QString &pattern)
{
    QList<Part> parts;
    QString run;
    bool quoted = false;
    for (int i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c != QLatin1Char('\'')) {
            if (quoted)
                appendText(parts, QString(c));
            else
                run += c;
            continue;
        }
        if (!quoted) {
            appendRun(parts, run);
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == QLatin1Char('\'')) {
            appendText(parts, QString(c));
            ++i;
        } else {
            quoted = !quoted;
        }
    }
    appendRun(parts, run);
    return parts;
}

QString DatePattern::regex(const QString &pattern)
{
    QString regex;
    for (const Part &part : parts(pattern))
        regex += part.isField ? fieldRegex(part.text) : QRegularExpression::escape(part.text);
    return regex;
}
