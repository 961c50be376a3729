#include "XDisplay.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QThread>

#include <functional>

namespace {

const char *const kPrograms[] = {"Xvfb", "openbox", "xdotool"};

bool pollUntil(const std::function<bool()> &condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

} // namespace

XDisplay::XDisplay()
{
    for (const char *program : kPrograms)
        if (QStandardPaths::findExecutable(program).isEmpty()) {
            m_problem = QString("%1 is not installed (scripts/setup.sh --packages-only)").arg(program);
            return;
        }
    if (!start()) {
        stop(m_windowManager);
        stop(m_server);
    }
}

XDisplay::~XDisplay()
{
    stop(m_windowManager);
    stop(m_server);
}

// Xvfb picks a free display itself and writes its number to the given
// file descriptor, here its standard output, once it accepts clients.
bool XDisplay::start()
{
    m_server.setProcessChannelMode(QProcess::SeparateChannels);
    m_server.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    if (!m_server.waitForStarted() || !pollUntil([this] {
            m_server.waitForReadyRead(50);
            return m_server.canReadLine() || m_server.state() != QProcess::Running;
        }, 10000)
        || !m_server.canReadLine()) {
        m_problem = "Xvfb did not start: " + QString::fromLocal8Bit(m_server.readAllStandardError());
        return false;
    }
    m_name = ":" + QString::fromLatin1(m_server.readLine()).trimmed();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", m_name);
    m_windowManager.setProcessEnvironment(environment);
    m_windowManager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_windowManager.start("openbox", {"--sm-disable"});
    if (!m_windowManager.waitForStarted()) {
        m_problem = "openbox did not start";
        return false;
    }
    return true;
}

void XDisplay::stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

bool XDisplay::xdotool(const QStringList &arguments, QByteArray *output) const
{
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", m_name);
    run.setProcessEnvironment(environment);
    run.start("xdotool", arguments);
    if (!run.waitForFinished(5000)) {
        run.kill();
        run.waitForFinished();
        return false;
    }
    if (output)
        *output = run.readAllStandardOutput();
    return run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0;
}

QStringList XDisplay::windows(qint64 pid) const
{
    QByteArray found;
    xdotool({"search", "--onlyvisible", "--pid", QString::number(pid)}, &found);
    return QString::fromLatin1(found).split('\n', Qt::SkipEmptyParts);
}

QString XDisplay::waitForWindow(qint64 pid, int timeoutMs) const
{
    QStringList found;
    pollUntil([&] { return !(found = windows(pid)).isEmpty(); }, timeoutMs);
    return found.value(0);
}

// The window manager may still be starting: it refuses until it runs.
// Should it never answer, the keyboard focus is given to the window
// directly, which is all that key events need.
bool XDisplay::activate(const QString &window, int timeoutMs) const
{
    return pollUntil([&] { return xdotool({"windowactivate", "--sync", window}); }, timeoutMs)
        || xdotool({"windowfocus", "--sync", window});
}

bool XDisplay::type(const QString &text) const
{
    return xdotool({"type", "--delay", "20", text});
}

bool XDisplay::key(const QString &keyName) const
{
    return xdotool({"key", keyName});
}

bool XDisplay::click(const QString &window, int x, int y) const
{
    return xdotool({"mousemove", "--window", window, QString::number(x), QString::number(y), "click", "1"});
}
