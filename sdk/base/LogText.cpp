#include "LogText.h"

#include <QStringList>
#include <QVector>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

const QString mask = QStringLiteral("********");
constexpr int longestKeptRun = 128;
constexpr int keptPrefix = 32;
constexpr int keptPhoneDigits = 4;
constexpr int longestScheme = 32;
constexpr int longestName = 64;
constexpr int longestText = 64 * 1024;
// What the mark of a cut text ("...(N chars)") takes at most, so that a cut
// text is not cut again.
constexpr int cutMarkRoom = 32;
constexpr int maxCutPasses = 4;

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isLetter(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

bool isNameChar(QChar c)
{
    return isLetter(c) || isDigit(c) || c == QLatin1Char('_') || c == QLatin1Char('-');
}

bool isBase64Char(QChar c)
{
    return isLetter(c) || isDigit(c) || c == QLatin1Char('+') || c == QLatin1Char('/');
}

bool isControl(QChar c)
{
    const ushort u = c.unicode();
    return u < 0x20 || (u >= 0x7f && u < 0xa0) || u == 0x2028 || u == 0x2029;
}

// Calls found(start, end) for each longest run of characters that belong;
// found returns where the scan goes on (end, or past what it consumed).
template <typename Belongs, typename Found>
void eachRun(const QString &text, Belongs belongs, Found found)
{
    int i = 0;
    while (i < text.size()) {
        if (!belongs(text[i])) {
            ++i;
            continue;
        }
        const int start = i;
        while (i < text.size() && belongs(text[i]))
            ++i;
        i = std::max(i, found(start, i));
    }
}

// Builds the result only once something changes.
class Rewrite
{
public:
    explicit Rewrite(const QString &text)
        : m_text(text)
    {
    }
    // Text up to from stays; [from, to) becomes replacement.
    void replace(int from, int to, const QString &replacement)
    {
        m_result += m_text.midRef(m_copied, from - m_copied);
        m_result += replacement;
        m_copied = to;
    }
    QString result()
    {
        if (m_copied == 0)
            return m_text;
        m_result += m_text.midRef(m_copied);
        return m_result;
    }

private:
    const QString &m_text;
    QString m_result;
    int m_copied = 0;
};

// Calls found(start) for each place in text[from, to) where value is, in
// order and without overlaps, while found returns true.
// Knuth-Morris-Pratt: linear whatever the value and the text.
template <typename Found>
void eachPlaceOf(const QString &value, const QString &text, int from, int to, Found found)
{
    const int length = value.size();
    std::vector<int> border(length, 0);
    for (int i = 1, k = 0; i < length; ++i) {
        while (k > 0 && value[i] != value[k])
            k = border[k - 1];
        if (value[i] == value[k])
            ++k;
        border[i] = k;
    }
    for (int i = from, k = 0; i < to; ++i) {
        while (k > 0 && text[i] != value[k])
            k = border[k - 1];
        if (text[i] == value[k])
            ++k;
        if (k == length) {
            if (!found(i + 1 - length))
                return;
            k = 0;
        }
    }
}

QString withoutValue(const QString &text, const QString &value)
{
    Rewrite rewrite(text);
    eachPlaceOf(value, text, 0, text.size(), [&](int start) {
        rewrite.replace(start, start + value.size(), mask);
        return true;
    });
    return rewrite.result();
}

QString withoutSecrets(QString text, const std::vector<QString> &secrets)
{
    for (const QString &secret : secrets) {
        if (!secret.isEmpty())
            text = withoutValue(text, secret);
    }
    return text;
}

bool endsUrl(QChar c)
{
    return c.isSpace() || isControl(c) || c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char('<')
        || c == QLatin1Char('>') || c == QLatin1Char('`') || c == QLatin1Char('(') || c == QLatin1Char(')');
}

QString maskedQuery(const QStringRef &query)
{
    QStringList fields;
    for (const QStringRef &field : query.split(QLatin1Char('&'))) {
        const int equals = field.indexOf(QLatin1Char('='));
        if (equals < 0 || equals + 1 == field.size())
            fields << field.toString();
        else
            fields << field.left(equals + 1) + mask;
    }
    return fields.join(QLatin1Char('&'));
}

// What follows "scheme://": a password before "@" and the query's values
// masked.
QString maskedAfterScheme(const QStringRef &rest)
{
    int authorityEnd = 0;
    while (authorityEnd < rest.size() && rest[authorityEnd] != QLatin1Char('/') && rest[authorityEnd] != QLatin1Char('?')
           && rest[authorityEnd] != QLatin1Char('#'))
        ++authorityEnd;
    QString result;
    const int at = rest.left(authorityEnd).lastIndexOf(QLatin1Char('@'));
    const int colon = at < 0 ? -1 : rest.left(at).indexOf(QLatin1Char(':'));
    int copied = 0;
    if (colon >= 0) {
        result += rest.left(colon + 1) + mask;
        copied = at;
    }
    const int question = rest.indexOf(QLatin1Char('?'), authorityEnd);
    if (question < 0)
        return result + rest.mid(copied);
    int fragment = rest.indexOf(QLatin1Char('#'), question);
    if (fragment < 0)
        fragment = rest.size();
    result += rest.mid(copied, question + 1 - copied);
    result += maskedQuery(rest.mid(question + 1, fragment - question - 1));
    result += rest.mid(fragment);
    return result;
}

QString withMaskedUrls(const QString &text)
{
    Rewrite rewrite(text);
    const QString separator = QStringLiteral("://");
    int from = 0;
    for (int found = text.indexOf(separator); found >= 0; found = text.indexOf(separator, from)) {
        int scheme = found;
        while (scheme > from && found - scheme < longestScheme
               && (isLetter(text[scheme - 1]) || isDigit(text[scheme - 1]) || text[scheme - 1] == QLatin1Char('+')
                   || text[scheme - 1] == QLatin1Char('.') || text[scheme - 1] == QLatin1Char('-')))
            --scheme;
        const int start = found + separator.size();
        if (scheme == found) {
            from = start;
            continue;
        }
        int end = start;
        while (end < text.size() && !endsUrl(text[end]))
            ++end;
        rewrite.replace(start, end, maskedAfterScheme(text.midRef(start, end - start)));
        from = end;
    }
    return rewrite.result();
}

enum class Field { Other, Secret, Phone };

bool isPhoneField(const QStringRef &name)
{
    return name.contains(QLatin1String("phone"), Qt::CaseInsensitive)
        || name.contains(QLatin1String("mobile"), Qt::CaseInsensitive)
        || name.compare(QLatin1String("tel"), Qt::CaseInsensitive) == 0;
}

Field fieldOf(const QStringRef &name)
{
    if (name.size() < 3)
        return Field::Other;
    for (const char *secret : {"passw", "pwd", "secret", "token", "session_key"}) {
        if (name.contains(QLatin1String(secret), Qt::CaseInsensitive))
            return Field::Secret;
    }
    return isPhoneField(name) ? Field::Phone : Field::Other;
}

bool endsBareValue(QChar c)
{
    return c.isSpace() || isControl(c) || QStringLiteral("&,;}])(<>\"'\\").contains(c);
}

// The value after a field's name: where it starts and ends (both -1 when
// the name is not followed by ":" or "=").
std::pair<int, int> valueAfter(const QString &text, int nameEnd)
{
    const int n = text.size();
    int i = nameEnd;
    if (i + 1 < n && text[i] == QLatin1Char('\\') && text[i + 1] == QLatin1Char('"'))
        i += 2;
    else if (i < n && text[i] == QLatin1Char('"'))
        ++i;
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    if (i == n || (text[i] != QLatin1Char(':') && text[i] != QLatin1Char('=')))
        return {-1, -1};
    ++i;
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    if (i + 1 < n && text[i] == QLatin1Char('\\') && text[i + 1] == QLatin1Char('"')) {
        // A JSON text inside a JSON string: the value ends at the next escape.
        const int start = i + 2;
        int end = start;
        while (end < n && text[end] != QLatin1Char('\\') && text[end] != QLatin1Char('"'))
            ++end;
        return {start, end};
    }
    if (i < n && text[i] == QLatin1Char('"')) {
        const int start = i + 1;
        int end = start;
        while (end < n && text[end] != QLatin1Char('"'))
            end += text[end] == QLatin1Char('\\') ? 2 : 1;
        return {start, std::min(end, n)};
    }
    int end = i;
    while (end < n && !endsBareValue(text[end]))
        ++end;
    return {i, end};
}

// Where the place of value that a cut would split starts, or the cut. Any
// place that starts in the window before the cut ends past it.
int startSplitBy(const QString &text, int cut, const QString &value)
{
    if (value.size() < 2)
        return cut;
    const int from = std::max(0, cut - value.size() + 1);
    const int to = std::min(text.size(), cut + value.size() - 1);
    int start = cut;
    eachPlaceOf(value, text, from, to, [&](int place) {
        start = std::min(place, cut);
        return false;
    });
    return start;
}

// Where the first part of an over-long text may end: not inside a known
// secret or phone (its remaining start would no longer be recognised) nor
// inside a run of digits (part of a number could pass for a whole one).
int cutPoint(const QString &text, const LogSecrets::Known &known)
{
    int cut = longestText - cutMarkRoom;
    // Moving the cut back may make it split what it did not split before;
    // where that goes on (overlapping secrets), nothing of the text is kept.
    for (int pass = 0, previous = -1; previous != cut; ++pass) {
        if (pass == maxCutPasses)
            return 0;
        previous = cut;
        for (const QString &secret : known.secrets)
            cut = startSplitBy(text, cut, secret);
        for (const QString &phone : known.phones)
            cut = startSplitBy(text, cut, phone);
        if (isDigit(text[cut])) {
            while (cut > 0 && isDigit(text[cut - 1]))
                --cut;
        }
    }
    return cut;
}

// An over-long text (a hostile server may answer with megabytes) is cut
// before it is masked, which keeps a line readable and its masking quick.
QString cutText(const QString &text, const LogSecrets::Known &known)
{
    return text.left(cutPoint(text, known)) + QStringLiteral("...(%1 chars)").arg(text.size());
}

// Every digit but the last four becomes "*".
QString maskedPhone(const QStringRef &value)
{
    int digits = 0;
    for (const QChar c : value)
        digits += isDigit(c) ? 1 : 0;
    QString result = value.toString();
    for (int i = 0, seen = 0; i < result.size() && seen < digits - keptPhoneDigits; ++i) {
        if (isDigit(result[i])) {
            result[i] = QLatin1Char('*');
            ++seen;
        }
    }
    return result;
}

QString withMaskedFields(const QString &text)
{
    Rewrite rewrite(text);
    eachRun(text, isNameChar, [&](int nameStart, int nameEnd) {
        if (nameEnd - nameStart > longestName)
            return nameEnd;
        const Field field = fieldOf(text.midRef(nameStart, nameEnd - nameStart));
        if (field == Field::Other)
            return nameEnd;
        const auto value = valueAfter(text, nameEnd);
        if (value.first < 0 || value.second == value.first)
            return nameEnd;
        const QStringRef raw = text.midRef(value.first, value.second - value.first);
        rewrite.replace(value.first, value.second, field == Field::Secret ? mask : maskedPhone(raw));
        return value.second;
    });
    return rewrite.result();
}

QString withCutBase64Runs(const QString &text)
{
    Rewrite rewrite(text);
    eachRun(text, isBase64Char, [&](int start, int end) {
        if (end - start <= longestKeptRun)
            return end;
        for (int padding = 0; padding < 2 && end < text.size() && text[end] == QLatin1Char('='); ++padding)
            ++end;
        rewrite.replace(start, end,
                        text.midRef(start, keptPrefix) + QStringLiteral("...(%1 chars)").arg(end - start));
        return end;
    });
    return rewrite.result();
}

bool isMobileNumber(const QStringRef &digits)
{
    return digits.size() == 11 && digits[0] == QLatin1Char('1') && digits[1] >= QLatin1Char('3')
        && digits[1] <= QLatin1Char('9');
}

QString withMaskedPhones(const QString &text, const std::set<QString> &knownPhones)
{
    Rewrite rewrite(text);
    eachRun(text, isDigit, [&](int start, int end) {
        const QStringRef digits = text.midRef(start, end - start);
        if (isMobileNumber(digits)
            || (digits.size() >= LogSecrets::shortestPhone && knownPhones.count(digits.toString()) > 0))
            rewrite.replace(start, end, maskedPhone(digits));
        return end;
    });
    return rewrite.result();
}

QString escapedControl(QChar c)
{
    switch (c.unicode()) {
    case '\n':
        return QStringLiteral("\\n");
    case '\r':
        return QStringLiteral("\\r");
    case '\t':
        return QStringLiteral("\\t");
    default:
        break;
    }
    if (c.unicode() < 0x80)
        return QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    return QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
}

QString withEscapedControls(const QString &text)
{
    Rewrite rewrite(text);
    for (int i = 0; i < text.size(); ++i) {
        if (isControl(text[i]))
            rewrite.replace(i, i + 1, escapedControl(text[i]));
    }
    return rewrite.result();
}

} // namespace

bool LogText::isPhoneName(const QString &name)
{
    return isPhoneField(QStringRef(&name));
}

QString LogText::safe(const QString &text, const LogSecrets::Known &known)
{
    QString result = withoutSecrets(text.size() > longestText ? cutText(text, known) : text, known.secrets);
    result = withMaskedUrls(result);
    result = withMaskedFields(result);
    result = withCutBase64Runs(result);
    result = withMaskedPhones(result, known.phones);
    return withEscapedControls(result);
}

QString LogText::safe(const QString &text)
{
    return safe(text, LogSecrets::known());
}
