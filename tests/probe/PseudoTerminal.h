#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal standing in for the probe device: raw mode, reached
// through a symbolic link (the path NEROVA_VIRTUAL_SERIAL names). The test
// writes the device's bytes to the master side. Unplugging closes the
// terminal and removes the link; a new object on the same link is the
// device plugged in again.
class PseudoTerminal
{
public:
    explicit PseudoTerminal(const QString &linkPath);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isOpen() const { return m_master >= 0; }
    QString devicePath() const { return m_devicePath; }
    // One write() of all the bytes.
    bool write(const QByteArray &bytes);
    void unplug();
    // A host killed while it had the terminal open leaves it in exclusive
    // use, which a real device loses at its last close; this terminal is
    // kept open by the test, so the next host (not root) would find it busy.
    void endExclusiveUse();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_linkPath;
    QString m_devicePath;
};
