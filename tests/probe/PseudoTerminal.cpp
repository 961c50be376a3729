#include "PseudoTerminal.h"

#include <QFile>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal(const QString &linkPath) : m_linkPath(linkPath)
{
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    // The test keeps the device side open too, so that the terminal lives
    // on while the library closes and reopens it.
    if (openpty(&m_master, &m_slave, name, &raw, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    // Host processes started later must not inherit the terminal: a copy
    // of the master side would keep it alive after unplug().
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    m_devicePath = QString::fromLocal8Bit(name);
    QFile::remove(m_linkPath);
    QFile::link(m_devicePath, m_linkPath);
}

PseudoTerminal::~PseudoTerminal()
{
    unplug();
}

bool PseudoTerminal::write(const QByteArray &bytes)
{
    return m_master >= 0 && ::write(m_master, bytes.constData(), bytes.size()) == bytes.size();
}

void PseudoTerminal::endExclusiveUse()
{
    if (m_slave >= 0)
        ioctl(m_slave, TIOCNXCL);
}

void PseudoTerminal::unplug()
{
    if (m_master < 0)
        return;
    QFile::remove(m_linkPath);
    ::close(m_master);
    ::close(m_slave);
    m_master = m_slave = -1;
}
