#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QString>

// JSON text from outside (server replies, the host's trade text) read as
// QJsonDocument::fromJson reads it, without the leak of Qt 5.15's parser:
// when a member name repeats within an object, Qt keeps the last member but
// loses arrays and objects held by that object's members while it drops the
// others. The earlier members of a repeated name are taken out of the text
// before Qt reads it, which gives the same document, since the last member
// wins either way. Text beyond the limits is refused before Qt reads it;
// the whole reading takes time linear in the text's size.
class JsonText
{
public:
    struct Limits
    {
        int maxBytes = 4 * 1024 * 1024;
        int maxDepth = 32;            // nested objects and arrays
        int maxMembers = 100000;      // object members and array elements, in all
        static Limits unbounded();
    };
    // Where refusals are logged (as ERROR lines); none by default.
    using RefusalLog = void (*)(const QString &line);
    static void setRefusalLog(RefusalLog log);

    // error, when given, receives Qt's verdict on the text.
    static QJsonDocument parse(const QByteArray &text, QJsonParseError *error = nullptr);
    // A null document for text beyond the limits, with refusal (when given)
    // saying why; error then says DeepNesting.
    static QJsonDocument parse(const QByteArray &text, const Limits &limits, QString *refusal,
                               QJsonParseError *error = nullptr);
    // The text without every member that a later member of the same name
    // replaces; the text itself when there is none.
    static QByteArray withoutRepeatedMembers(const QByteArray &text);

private:
    static void reportRefusal(const QString &refusal);
};
