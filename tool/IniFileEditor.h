#pragma once

#include <QByteArray>
#include <QString>

// Sets single keys of an INI file by editing its text, so that everything
// else the installer wrote (comments, blank lines, the order of the keys,
// values in their own spelling, text beyond ASCII) stays byte for byte as it
// was. Lines are read the way QSettings reads them: a ";" outside double
// quotes starts a comment, a backslash or an open quote carries a value over
// the line end, of several entries of one key the last one counts, and a
// UTF-8 byte-order mark at the start is no part of the first line (it stays).
class IniFileEditor
{
public:
    explicit IniFileEditor(const QByteArray &text = QByteArray());

    // Every entry of the key ("Group/Key") gets the value; without one, a
    // line is added at the end of the group's last section, or a new
    // section at the end of the file.
    void setValue(const QString &groupAndKey, const QString &value);

    const QByteArray &text() const { return m_text; }

    // The value in the INI form QSettings reads back as the same text:
    // quoted where blanks at the ends or ";" "," "=" would change it, with
    // backslash escapes for quotes, backslashes and everything beyond ASCII.
    static QByteArray escapedValue(const QString &value);

private:
    struct Line
    {
        int start = 0;     // first byte of the line (after leading blanks)
        int end = 0;       // end of the entry: a comment or the line end
        int next = 0;      // start of the following line
        int equals = -1;   // the "=" of a key entry
        QByteArray section; // the name of a section header
        bool isSection = false;
    };

    int textStart() const;
    Line readLine(int position) const;
    QByteArray lineEnding() const;
    void replaceValue(const Line &line, const QByteArray &value);
    void insertAfter(int position, const QByteArray &lines);

    QByteArray m_text;
};
