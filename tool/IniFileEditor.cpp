#include "IniFileEditor.h"

#include <QVector>

namespace {

bool isBlank(char ch)
{
    return ch == ' ' || ch == '\t';
}

bool isLineEnd(char ch)
{
    return ch == '\n' || ch == '\r';
}

// The UTF-8 byte-order mark an editor may put first; QSettings skips it.
const char kByteOrderMark[] = "\xef\xbb\xbf";

bool isHexDigit(ushort ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
}

} // namespace

IniFileEditor::IniFileEditor(const QByteArray &text)
    : m_text(text)
{
}

int IniFileEditor::textStart() const
{
    return m_text.startsWith(kByteOrderMark) ? int(sizeof kByteOrderMark) - 1 : 0;
}

IniFileEditor::Line IniFileEditor::readLine(int position) const
{
    const int size = m_text.size();
    Line line;
    while (position < size && (isBlank(m_text[position]) || isLineEnd(m_text[position])))
        ++position;
    line.start = position;
    bool inQuotes = false;
    int i = position;
    while (i < size) {
        const char ch = m_text[i];
        if (isLineEnd(ch) && !inQuotes)
            break;
        if (ch == ';' && !inQuotes)
            break;
        if (ch == '\\' && i + 1 < size) {
            // An escaped character; an escaped CR LF carries the line over as one.
            i += (m_text[i + 1] == '\r' && i + 2 < size && m_text[i + 2] == '\n') ? 3 : 2;
            continue;
        }
        if (ch == '"')
            inQuotes = !inQuotes;
        else if (ch == '=' && !inQuotes && line.equals < 0)
            line.equals = i;
        ++i;
    }
    line.end = i;
    while (i < size && !isLineEnd(m_text[i]))
        ++i; // the comment
    if (i < size && m_text[i] == '\r')
        ++i;
    if (i < size && m_text[i] == '\n')
        ++i;
    line.next = i;

    if (line.start < size && m_text[line.start] == '[') {
        line.isSection = true;
        int close = m_text.indexOf(']', line.start);
        if (close < 0 || close >= line.end)
            close = line.end;
        line.section = m_text.mid(line.start + 1, close - line.start - 1).trimmed();
        line.equals = -1;
    }
    return line;
}

QByteArray IniFileEditor::lineEnding() const
{
    const int newline = m_text.indexOf('\n');
    if (newline > 0 && m_text[newline - 1] == '\r')
        return "\r\n";
    return "\n";
}

void IniFileEditor::replaceValue(const Line &line, const QByteArray &value)
{
    int valueStart = line.equals + 1;
    int valueEnd = line.end;
    while (valueStart < valueEnd && isBlank(m_text[valueStart]))
        ++valueStart;
    while (valueEnd > valueStart && isBlank(m_text[valueEnd - 1]))
        --valueEnd;
    if (valueStart == valueEnd)
        valueStart = valueEnd = line.equals + 1; // an empty value: write it right after "="
    m_text.replace(valueStart, valueEnd - valueStart, value);
}

void IniFileEditor::insertAfter(int position, const QByteArray &lines)
{
    QByteArray text = lines;
    if (position > textStart() && !isLineEnd(m_text[position - 1]))
        text.prepend(lineEnding());
    m_text.insert(position, text);
}

void IniFileEditor::setValue(const QString &groupAndKey, const QString &value)
{
    const int slash = groupAndKey.indexOf(QLatin1Char('/'));
    const QByteArray groupName = groupAndKey.left(slash).toUtf8();
    const QByteArray keyName = groupAndKey.mid(slash + 1).toUtf8();
    const QByteArray escaped = escapedValue(value);

    // Lines are read front to back; a replacement shifts the bytes after it,
    // so the positions are collected first and edited from the back.
    QVector<Line> entries;
    int groupEnd = -1; // where the group's last section ends its last entry
    bool inGroup = false;
    for (int position = textStart(); position < m_text.size();) {
        const Line line = readLine(position);
        if (line.start >= m_text.size())
            break;
        if (line.isSection) {
            inGroup = line.section == groupName;
            if (inGroup)
                groupEnd = line.next;
        } else if (inGroup && line.equals >= 0) {
            groupEnd = line.next;
            if (m_text.mid(line.start, line.equals - line.start).trimmed() == keyName)
                entries.append(line);
        }
        position = line.next;
    }

    for (int i = entries.size() - 1; i >= 0; --i)
        replaceValue(entries[i], escaped);
    if (!entries.isEmpty())
        return;

    const QByteArray eol = lineEnding();
    const QByteArray entry = keyName + '=' + escaped + eol;
    if (groupEnd >= 0) {
        insertAfter(groupEnd, entry);
        return;
    }
    QByteArray section = '[' + groupName + ']' + eol + entry;
    if (m_text.size() > textStart())
        section.prepend(eol);
    insertAfter(m_text.size(), section);
}

QByteArray IniFileEditor::escapedValue(const QString &value)
{
    QByteArray result;
    bool needsQuotes = !value.isEmpty() && (value.front().isSpace() || value.back().isSpace());
    bool afterHexEscape = false;
    if (value.startsWith(QLatin1Char('@')))
        result += '@'; // a leading "@" would announce a typed value
    for (const QChar qch : value) {
        const ushort ch = qch.unicode();
        if (ch == ';' || ch == ',' || ch == '=')
            needsQuotes = true;
        if (ch == '"' || ch == '\\') {
            result += '\\';
            result += char(ch);
            afterHexEscape = false;
        } else if (ch < 0x20 || ch >= 0x7f || (afterHexEscape && isHexDigit(ch))) {
            // A hex escape runs on over hex digits, so one that follows it is escaped too.
            result += "\\x" + QByteArray::number(ch, 16);
            afterHexEscape = true;
        } else {
            result += char(ch);
            afterHexEscape = false;
        }
    }
    if (needsQuotes)
        result = '"' + result + '"';
    return result;
}
