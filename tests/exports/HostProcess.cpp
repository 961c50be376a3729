#include "HostProcess.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QProcessEnvironment>

namespace {

QProcessEnvironment hostEnvironment(const QStringList &entries)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : entries) {
        if (entry.startsWith('-'))
            environment.remove(entry.mid(1));
        else
            environment.insert(entry.section('=', 0, 0), entry.section('=', 1));
    }
    return environment;
}

bool isReplyTo(const QJsonObject &line, const QString &command)
{
    return line.value("cmd").toString() == command
        && (line.contains("result") || line.contains("error"));
}

} // namespace

HostProcess::HostProcess(Kind kind, const QStringList &environment, const QString &program)
{
    const QString defaultProgram = kind == Kind::C ? NEROVA_C_HOST_FILE : NEROVA_QT_HOST_FILE;
    m_process.setProcessEnvironment(hostEnvironment(environment));
    m_process.start(program.isEmpty() ? defaultProgram : program,
                    program.isEmpty() ? QStringList{libraryPath()} : QStringList{});
    m_loaded = m_process.waitForStarted() && reply("load").value("result").toInt(-1) == 0;
}

HostProcess::~HostProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

QString HostProcess::libraryPath()
{
    return NEROVA_LIBRARY_FILE;
}

void HostProcess::send(const QString &lines)
{
    m_process.write(lines.toUtf8() + '\n');
    m_process.waitForBytesWritten();
}

void HostProcess::readLines()
{
    while (m_process.canReadLine())
        m_lines.append(QJsonDocument::fromJson(m_process.readLine()).object());
}

QJsonObject HostProcess::reply(const QString &command, int timeoutMs)
{
    return next([&](const QJsonObject &line) { return isReplyTo(line, command); }, timeoutMs);
}

QJsonObject HostProcess::next(const std::function<bool(const QJsonObject &)> &matches, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        readLines();
        for (; m_next < m_lines.size(); ++m_next) {
            if (matches(m_lines[m_next]))
                return m_lines[m_next++];
        }
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return QJsonObject();
        m_process.waitForReadyRead(50);
    }
}

QJsonObject HostProcess::nextCallback(const QString &name, int code, int timeoutMs)
{
    return next([&](const QJsonObject &line) { return line.value("callback") == name && line.value("code") == code; },
                timeoutMs);
}

bool HostProcess::loopUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired() || run("loop 100") != 0)
            return false;
    }
    return true;
}

int HostProcess::run(const QString &command)
{
    send(command);
    return reply(command.section(' ', 0, 0)).value("result").toInt(-1);
}

QList<QJsonObject> HostProcess::lines(const QString &key, const QString &value)
{
    readLines();
    QList<QJsonObject> found;
    for (const QJsonObject &line : m_lines) {
        if (line.value(key).toString() == value)
            found.append(line);
    }
    return found;
}

bool HostProcess::finish(int timeoutMs)
{
    m_process.closeWriteChannel();
    const bool finished = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
    readLines();
    m_errorOutput = QString::fromLocal8Bit(m_process.readAllStandardError());
    return finished;
}

bool HostProcess::exitedCleanly() const
{
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0
        && !m_errorOutput.contains("ERROR: AddressSanitizer") && !m_errorOutput.contains("ERROR: LeakSanitizer")
        && !m_errorOutput.contains("runtime error") && !m_errorOutput.contains("WARNING: ThreadSanitizer");
}
