#pragma once

#include <QByteArray>
#include <QJsonDocument>

// JSON text from outside (server replies, the host's trade text) read as
// QJsonDocument::fromJson reads it, without the leak of Qt 5.15's parser:
// when a member name repeats within an object, Qt keeps the last member but
// loses arrays and objects held by that object's members while it drops the
// others. The earlier members of a repeated name are taken out of the text
// before Qt reads it, which gives the same document, since the last member
// wins either way.
class JsonText
{
public:
    // error, when given, receives Qt's verdict on the text.
    static QJsonDocument parse(const QByteArray &text, QJsonParseError *error = nullptr);
    // The text without every member that a later member of the same name
    // replaces; the text itself when there is none.
    static QByteArray withoutRepeatedMembers(const QByteArray &text);
};
