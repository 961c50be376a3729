#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>

#include <functional>

// One example host program (C or Qt) running the real library, driven
// through its standard input; its JSON output lines are collected.
class HostProcess
{
public:
    enum class Kind { C, Qt };

    // The environment is the test's own (NEROVA_HOME of a TestInstall
    // included) plus extra "NAME=value" entries; "-NAME" removes NAME.
    explicit HostProcess(Kind kind, const QStringList &environment = {},
                         const QString &program = QString());
    ~HostProcess();

    static QString libraryPath();

    bool isLoaded() const { return m_loaded; }
    qint64 pid() const { return m_process.processId(); }

    // Writes the lines in one write, so the host reads them together.
    void send(const QString &lines);
    // The next output line for the command (its result or error), or an
    // empty object when none came in time.
    QJsonObject reply(const QString &command, int timeoutMs = 15000);
    // The next output line that matches, or an empty object in time.
    QJsonObject next(const std::function<bool(const QJsonObject &)> &matches, int timeoutMs = 15000);
    // The next callback line of that name and code, or an empty object in time.
    QJsonObject nextCallback(const QString &name, int code, int timeoutMs = 15000);
    // Lets the host's loop run in short steps until the condition holds.
    bool loopUntil(const std::function<bool()> &condition, int timeoutMs = 5000);
    // Sends the command and returns its "result" (-1 without a reply).
    int run(const QString &command);
    // Every output line with the given first key and value, e.g.
    // lines("callback", "session").
    QList<QJsonObject> lines(const QString &key, const QString &value);

    // Closes standard input (the scenario ends) and waits for the exit.
    bool finish(int timeoutMs = 15000);
    // After finish(): exit status 0, and stderr holds no sanitizer report.
    bool exitedCleanly() const;
    QString errorOutput() const { return m_errorOutput; }

private:
    void readLines();

    QProcess m_process;
    QList<QJsonObject> m_lines;
    int m_next = 0;
    bool m_loaded = false;
    QString m_errorOutput;
};
