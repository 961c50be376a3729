#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// An X server of the test's own: Xvfb on a free display with the openbox
// window manager, both stopped on destruction. Windows on it are driven
// with xdotool, by real key and mouse events.
class XDisplay
{
public:
    XDisplay();
    ~XDisplay();
    XDisplay(const XDisplay &) = delete;
    XDisplay &operator=(const XDisplay &) = delete;

    // Empty when the display runs; otherwise why not, naming the program.
    QString problem() const { return m_problem; }
    // ":N", for DISPLAY.
    QString name() const { return m_name; }

    // The first visible window of the process, waited for; empty if none came.
    QString waitForWindow(qint64 pid, int timeoutMs = 30000) const;
    // The visible windows of the process.
    QStringList windows(qint64 pid) const;
    // Gives the window the keyboard focus (waits for the window manager).
    bool activate(const QString &window, int timeoutMs = 15000) const;
    // Key events go to the window that has the focus.
    bool type(const QString &text) const;
    bool key(const QString &keyName) const;
    // A left click at a point given in the window's own coordinates.
    bool click(const QString &window, int x, int y) const;

private:
    bool start();
    bool xdotool(const QStringList &arguments, QByteArray *output = nullptr) const;
    static void stop(QProcess &process);

    QProcess m_server;
    QProcess m_windowManager;
    QString m_name;
    QString m_problem;
};
