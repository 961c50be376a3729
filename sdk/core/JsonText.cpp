#include "JsonText.h"

#include <QHash>
#include <QJsonArray>
#include <QPair>
#include <QString>
#include <QVector>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

namespace {

std::atomic<JsonText::RefusalLog> refusalLog{nullptr};

using Span = QPair<int, int>; // start and end of a part of the text

// A member that a later member of the same name replaces: the whole member
// (from its name to the name of the member after it, comma included), its
// name, and a name that no member of its object has.
struct Replaced
{
    Span member;
    Span name;
    QByteArray uniqueName;
};

// Walks the structure of the text (it checks no more than it needs to find
// the members of objects) and collects the replaced members. A structural
// error ends the walk; the members found in the objects completed before it
// still count, since Qt's parser has read those objects too.
class Scanner
{
public:
    Scanner(const QByteArray &text, const JsonText::Limits &limits) : m_text(text), m_limits(limits) {}

    QVector<Replaced> replacedMembers()
    {
        value(0);
        return m_replaced;
    }

    // Why the text goes beyond the limits; empty when it does not.
    QString refusal() const { return m_refusal; }

private:
    struct Member
    {
        QString name;
        Span nameSpan;
        Span span;
    };

    char peek() const { return m_pos < m_text.size() ? m_text[m_pos] : '\0'; }

    void skipSpace()
    {
        while (m_pos < m_text.size() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            ++m_pos;
    }

    bool value(int depth)
    {
        skipSpace();
        switch (peek()) {
        case '{':
            return deepEnough(depth) && object(depth + 1);
        case '[':
            return deepEnough(depth) && array(depth + 1);
        case '"':
            return string(nullptr);
        default:
            return scalar();
        }
    }

    bool deepEnough(int depth)
    {
        if (depth < m_limits.maxDepth)
            return true;
        m_refusal = QStringLiteral("nested deeper than %1 levels").arg(m_limits.maxDepth);
        return false;
    }

    // One more member or element; false past the limit.
    bool counted()
    {
        if (++m_members <= m_limits.maxMembers)
            return true;
        m_refusal = QStringLiteral("more than %1 members and elements").arg(m_limits.maxMembers);
        return false;
    }

    bool scalar()
    {
        const int start = m_pos;
        while (m_pos < m_text.size() && !std::strchr(",]} \t\n\r:", peek()))
            ++m_pos;
        return m_pos > start;
    }

    // A string's text; its name (decoded as Qt decodes it) when asked.
    bool string(QString *name)
    {
        const int start = m_pos++;
        bool escaped = false;
        for (; m_pos < m_text.size() && peek() != '"'; ++m_pos) {
            if (peek() == '\\') {
                escaped = true;
                ++m_pos;
            }
        }
        if (m_pos >= m_text.size())
            return false;
        ++m_pos;
        if (!name)
            return true;
        const int length = m_pos - start;
        *name = comparable(escaped ? QJsonDocument::fromJson('[' + m_text.mid(start, length) + ']').array().at(0).toString()
                                   : QString::fromUtf8(m_text.constData() + start + 1, length - 2));
        return true;
    }

    // Qt compares names of equal length only up to a NUL character in them
    // ("a\0b" and "a\0c" are one name to it), so such a name stands for
    // every name with its length and its text before the NUL.
    static QString comparable(const QString &name)
    {
        const int nul = name.indexOf(QChar(0));
        return nul < 0 ? name : name.left(nul + 1) + QString::number(name.size());
    }

    bool array(int depth)
    {
        ++m_pos;
        skipSpace();
        if (peek() == ']') {
            ++m_pos;
            return true;
        }
        for (;;) {
            if (!value(depth) || !counted())
                return false;
            skipSpace();
            if (peek() == ']') {
                ++m_pos;
                return true;
            }
            if (peek() != ',')
                return false;
            ++m_pos;
        }
    }

    bool object(int depth)
    {
        ++m_pos;
        QVector<Member> members;
        skipSpace();
        if (peek() == '}') {
            ++m_pos;
            return true;
        }
        for (;;) {
            skipSpace();
            Member member;
            member.span.first = m_pos;
            if (!members.isEmpty())
                members.last().span.second = m_pos;
            if (peek() != '"' || !string(&member.name))
                return false;
            member.nameSpan = {member.span.first, m_pos};
            skipSpace();
            if (peek() != ':')
                return false;
            ++m_pos;
            if (!value(depth) || !counted())
                return false;
            members.append(member);
            skipSpace();
            if (peek() == '}') {
                ++m_pos;
                collectReplaced(members);
                return true;
            }
            if (peek() != ',')
                return false;
            ++m_pos;
        }
    }

    // Printable ASCII without escapes: a name Qt always accepts, known
    // without asking it (a hostile reply repeats such names by the thousand).
    bool isPlainName(const Span &name) const
    {
        for (int i = name.first + 1; i < name.second - 1; ++i) {
            const char c = m_text[i];
            if (c < 0x20 || c > 0x7e || c == '\\')
                return false;
        }
        return true;
    }

    // A name Qt refuses (a bad escape, a control character, broken UTF-8)
    // ends Qt's reading before it drops a member, so such an object needs
    // nothing; and renaming the member must not hide the error.
    void collectReplaced(const QVector<Member> &members)
    {
        QHash<QString, int> lastIndex;
        for (int i = 0; i < members.size(); ++i)
            lastIndex.insert(members[i].name, i);
        QVector<Replaced> found;
        int nextName = 0;
        for (int i = 0; i < members.size(); ++i) {
            if (lastIndex.value(members[i].name) == i)
                continue;
            const Span name = members[i].nameSpan;
            if (!isPlainName(name) && QJsonDocument::fromJson('[' + m_text.mid(name.first, name.second - name.first) + ']').isNull())
                return;
            QString unique;
            do {
                unique = QString::number(nextName++);
            } while (lastIndex.contains(unique));
            found.append({members[i].span, name, '"' + unique.toLatin1() + '"'});
        }
        m_replaced += found;
    }

    const QByteArray &m_text;
    const JsonText::Limits m_limits;
    QString m_refusal;
    int m_members = 0;
    int m_pos = 0;
    QVector<Replaced> m_replaced;
};

// The text with each span replaced by its text, in one pass: the spans
// are sorted and do not overlap.
QByteArray replaced(const QByteArray &text, const QVector<QPair<Span, QByteArray>> &spans)
{
    QByteArray result;
    result.reserve(text.size());
    int copied = 0;
    for (const auto &span : spans) {
        result.append(text.constData() + copied, span.first.first - copied);
        result.append(span.second);
        copied = span.first.second;
    }
    result.append(text.constData() + copied, text.size() - copied);
    return result;
}

QByteArray withoutMembers(const QByteArray &text, const QVector<Replaced> &replacedMembers)
{
    QVector<Span> spans;
    for (const Replaced &member : replacedMembers)
        spans.append(member.member);
    std::sort(spans.begin(), spans.end());
    // A replaced member may hold replaced members of its own: only the
    // outermost span is taken out.
    QVector<QPair<Span, QByteArray>> outermost;
    for (const Span &span : spans) {
        if (outermost.isEmpty() || span.first >= outermost.last().first.second)
            outermost.append({span, QByteArray()});
    }
    return replaced(text, outermost);
}

// Names never overlap.
QByteArray withUniqueNames(const QByteArray &text, const QVector<Replaced> &replacedMembers)
{
    QVector<QPair<Span, QByteArray>> names;
    for (const Replaced &member : replacedMembers)
        names.append({member.name, member.uniqueName});
    std::sort(names.begin(), names.end(),
              [](const QPair<Span, QByteArray> &a, const QPair<Span, QByteArray> &b) { return a.first < b.first; });
    return replaced(text, names);
}

} // namespace

QByteArray JsonText::withoutRepeatedMembers(const QByteArray &text)
{
    const QVector<Replaced> replacedMembers = Scanner(text, Limits::unbounded()).replacedMembers();
    return replacedMembers.isEmpty() ? text : withoutMembers(text, replacedMembers);
}

QJsonDocument JsonText::parse(const QByteArray &text, QJsonParseError *error)
{
    return parse(text, Limits(), nullptr, error);
}

// Taking members out could also take out an error in their values: whether
// Qt accepts the text is asked of a copy in which the repeated names are
// made unique instead, which Qt reads without losing anything.
QJsonDocument JsonText::parse(const QByteArray &text, const Limits &limits, QString *refusal, QJsonParseError *error)
{
    QString beyond;
    QVector<Replaced> replacedMembers;
    if (text.size() > limits.maxBytes) {
        beyond = QStringLiteral("larger than %1 bytes").arg(limits.maxBytes);
    } else {
        Scanner scanner(text, limits);
        replacedMembers = scanner.replacedMembers();
        beyond = scanner.refusal();
    }
    if (!beyond.isEmpty()) {
        if (refusal)
            *refusal = beyond;
        if (error)
            *error = QJsonParseError{0, QJsonParseError::DeepNesting};
        reportRefusal(beyond);
        return QJsonDocument();
    }
    if (replacedMembers.isEmpty())
        return QJsonDocument::fromJson(text, error);
    if (QJsonDocument::fromJson(withUniqueNames(text, replacedMembers), error).isNull())
        return QJsonDocument();
    return QJsonDocument::fromJson(withoutMembers(text, replacedMembers));
}

JsonText::Limits JsonText::Limits::unbounded()
{
    Limits limits;
    limits.maxBytes = std::numeric_limits<int>::max();
    // Qt's parser refuses deeper nesting, so deeper text needs no scan.
    limits.maxDepth = 1024;
    limits.maxMembers = std::numeric_limits<int>::max();
    return limits;
}

void JsonText::setRefusalLog(RefusalLog log)
{
    refusalLog.store(log);
}

void JsonText::reportRefusal(const QString &refusal)
{
    if (const RefusalLog log = refusalLog.load())
        log(QStringLiteral("JSON text refused: %1; taken as malformed").arg(refusal));
}
