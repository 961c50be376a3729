#include "RepeatFold.h"

#include "LogText.h"

namespace {

const std::size_t longestText = 1000;

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "[tcp @ 0x55d0c8a1b2c0]" becomes "[tcp]".
std::string withoutAddresses(const std::string &text)
{
    std::string result;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t at = i;
        if (text[at] == ' ' && at + 1 < text.size() && text[at + 1] == '@')
            ++at;
        std::size_t digits = at + 1;
        if (digits < text.size() && text[digits] == ' ')
            ++digits;
        if (text[at] == '@' && text.compare(digits, 2, "0x") == 0 && digits + 2 < text.size()
            && isHexDigit(text[digits + 2])) {
            i = digits + 2;
            while (i < text.size() && isHexDigit(text[i]))
                ++i;
            continue;
        }
        result += text[i++];
    }
    return result;
}

} // namespace

RepeatFold::RepeatFold(qint64 windowMs, std::size_t capacity)
    : m_windowMs(windowMs)
    , m_capacity(capacity)
{
}

std::string RepeatFold::normalised(const std::string &message)
{
    std::string text = LogText::safe(QString::fromStdString(withoutAddresses(message))).toStdString();
    if (text.size() > longestText)
        text = text.substr(0, longestText) + "...";
    return text;
}

std::vector<RepeatFold::Line> RepeatFold::add(int level, const std::string &message, qint64 nowMs)
{
    std::vector<Line> lines;
    while (!m_kinds.empty() && nowMs - m_kinds.front().firstMs >= m_windowMs) {
        countLine(m_kinds.front(), lines);
        m_kinds.pop_front();
    }
    const std::string text = normalised(message);
    for (Kind &kind : m_kinds) {
        if (kind.text == text && kind.level == level) {
            ++kind.repeats;
            return lines;
        }
    }
    lines.push_back({level, text});
    m_kinds.push_back({level, text, nowMs, 0});
    if (m_kinds.size() > m_capacity) {
        countLine(m_kinds.front(), lines);
        m_kinds.pop_front();
    }
    return lines;
}

std::vector<RepeatFold::Line> RepeatFold::flush()
{
    std::vector<Line> lines;
    for (const Kind &kind : m_kinds)
        countLine(kind, lines);
    m_kinds.clear();
    return lines;
}

void RepeatFold::countLine(const Kind &kind, std::vector<Line> &lines)
{
    if (kind.repeats > 0)
        lines.push_back({kind.level, kind.text + " (" + std::to_string(kind.repeats) + " more times)"});
}
