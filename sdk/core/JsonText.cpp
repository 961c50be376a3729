#include "JsonText.h"

#include <QHash>
#include <QJsonArray>
#include <QPair>
#include <QString>
#include <QVector>

#include <algorithm>
#include <cstring>

namespace {

// Qt's parser refuses deeper nesting, so deeper text needs no scan.
constexpr int nestingLimit = 1024;

using Span = QPair<int, int>; // start and end of a member in the text

// Walks the structure of the text (it checks no more than it needs to find
// the members of objects) and collects the spans of replaced members, each
// from its name to the name of the member after it, comma included. A
// structural error ends the walk; the spans found in the objects completed
// before it still count, since Qt's parser has read those objects too.
class Scanner
{
public:
    explicit Scanner(const QByteArray &text) : m_text(text) {}

    QVector<Span> replacedMembers()
    {
        value(0);
        return m_spans;
    }

private:
    struct Member
    {
        QString name;
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
            return depth < nestingLimit && object(depth + 1);
        case '[':
            return depth < nestingLimit && array(depth + 1);
        case '"':
            return string(nullptr);
        default:
            return scalar();
        }
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
        const QByteArray literal = m_text.mid(start, m_pos - start);
        if (name)
            *name = escaped ? QJsonDocument::fromJson('[' + literal + ']').array().at(0).toString()
                            : QString::fromUtf8(literal.mid(1, literal.size() - 2));
        return true;
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
            if (!value(depth))
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
            skipSpace();
            if (peek() != ':')
                return false;
            ++m_pos;
            if (!value(depth))
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

    void collectReplaced(const QVector<Member> &members)
    {
        QHash<QString, int> lastIndex;
        for (int i = 0; i < members.size(); ++i)
            lastIndex.insert(members[i].name, i);
        for (int i = 0; i < members.size(); ++i) {
            if (lastIndex.value(members[i].name) != i)
                m_spans.append(members[i].span);
        }
    }

    const QByteArray &m_text;
    int m_pos = 0;
    QVector<Span> m_spans;
};

} // namespace

QByteArray JsonText::withoutRepeatedMembers(const QByteArray &text)
{
    QVector<Span> spans = Scanner(text).replacedMembers();
    if (spans.isEmpty())
        return text;
    std::sort(spans.begin(), spans.end());
    // A replaced member may hold replaced members of its own: only the
    // outermost span is taken out, from the end so offsets stay valid.
    QVector<Span> outermost;
    for (const Span &span : spans) {
        if (outermost.isEmpty() || span.first >= outermost.last().second)
            outermost.append(span);
    }
    QByteArray cleaned = text;
    for (auto span = outermost.crbegin(); span != outermost.crend(); ++span)
        cleaned.remove(span->first, span->second - span->first);
    return cleaned;
}

QJsonDocument JsonText::parse(const QByteArray &text)
{
    return QJsonDocument::fromJson(withoutRepeatedMembers(text));
}
