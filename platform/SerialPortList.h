#pragma once

#include <QList>
#include <QString>

// One serial port of the machine, as both the library and the wizard see it.
struct SerialPortEntry
{
    QString portName;       // what QSerialPort::setPortName accepts
    QString description;
    QString systemLocation; // the device path that is opened
    bool hasVendorIdentifier = false;
    bool hasProductIdentifier = false;
    quint16 vendorIdentifier = 0;
    quint16 productIdentifier = 0;

    // The USB vendor and product identifiers in decimal, "vendor-product";
    // a missing number is 0, so a port without USB identifiers is "0-0".
    QString probeDeviceIdentifier() const;
};

// The serial ports of the machine: the real ones Qt enumerates, then the
// virtual ones named by NEROVA_VIRTUAL_SERIAL.
//
// NEROVA_VIRTUAL_SERIAL holds entries separated by ";", each
// "path@vendor-product[@description]" with decimal USB identifiers (the
// description is the rest of the entry, "@" included). The
// variable is read at every enumeration, and an entry whose path does not
// exist (a removed link, an unplugged device) is not listed, so a
// pseudo-terminal behind a symbolic link can stand in for a probe device
// that is unplugged and plugged in again. The real ports are read once and
// again only when the device directories change (DeviceChangeWatch).
class SerialPortList
{
public:
    static QList<SerialPortEntry> available();
    static QList<SerialPortEntry> realPorts();
    // Every well-formed entry of the text, whether its path exists or not.
    static QList<SerialPortEntry> parseVirtualPorts(const QString &text);
    static QString probeDeviceIdentifier(quint16 vendorIdentifier, quint16 productIdentifier);
};
