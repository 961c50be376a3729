#include "SerialPortList.h"

#include "CachedDeviceList.h"

#include <QFileInfo>
#include <QSerialPortInfo>
#include <QStringList>

namespace {

const char virtualVariable[] = "NEROVA_VIRTUAL_SERIAL";

bool readIdentifier(const QString &text, quint16 *value)
{
    bool ok = false;
    const uint number = text.trimmed().toUInt(&ok, 10);
    if (!ok || number > 0xFFFF)
        return false;
    *value = static_cast<quint16>(number);
    return true;
}

// "path@vendor-product[@description]"; false when it is not of that form.
bool parseVirtualEntry(const QString &entry, SerialPortEntry *port)
{
    const QStringList fields = entry.split(QLatin1Char('@'));
    if (fields.size() < 2 || fields[0].trimmed().isEmpty())
        return false;
    const QStringList ids = fields[1].split(QLatin1Char('-'));
    if (ids.size() != 2 || !readIdentifier(ids[0], &port->vendorIdentifier)
        || !readIdentifier(ids[1], &port->productIdentifier))
        return false;
    port->hasVendorIdentifier = port->hasProductIdentifier = true;
    port->portName = port->systemLocation = fields[0].trimmed();
    port->description = fields.size() > 2 ? entry.section(QLatin1Char('@'), 2) : QStringLiteral("Virtual serial port");
    return true;
}

} // namespace

QString SerialPortEntry::probeDeviceIdentifier() const
{
    return SerialPortList::probeDeviceIdentifier(hasVendorIdentifier ? vendorIdentifier : 0,
                                                 hasProductIdentifier ? productIdentifier : 0);
}

QString SerialPortList::probeDeviceIdentifier(quint16 vendorIdentifier, quint16 productIdentifier)
{
    return QStringLiteral("%1-%2").arg(vendorIdentifier, 0, 10).arg(productIdentifier, 0, 10);
}

QList<SerialPortEntry> SerialPortList::realPorts()
{
    QList<SerialPortEntry> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        SerialPortEntry port;
        port.portName = info.portName();
        port.description = info.description();
        port.systemLocation = info.systemLocation();
        port.hasVendorIdentifier = info.hasVendorIdentifier();
        port.hasProductIdentifier = info.hasProductIdentifier();
        port.vendorIdentifier = info.vendorIdentifier();
        port.productIdentifier = info.productIdentifier();
        ports.append(port);
    }
    return ports;
}

QList<SerialPortEntry> SerialPortList::parseVirtualPorts(const QString &text)
{
    QList<SerialPortEntry> ports;
    const QStringList entries = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &entry : entries) {
        SerialPortEntry port;
        if (parseVirtualEntry(entry, &port))
            ports.append(port);
    }
    return ports;
}

// The real ports are kept until a device comes or goes; the virtual ones
// are read from the environment every time.
QList<SerialPortEntry> SerialPortList::available()
{
    static CachedDeviceList<SerialPortEntry> real(DeviceChangeWatch::machine(), [] { return realPorts(); });
    QList<SerialPortEntry> ports = real.entries();
    const QList<SerialPortEntry> virtualPorts = parseVirtualPorts(qEnvironmentVariable(virtualVariable));
    for (const SerialPortEntry &port : virtualPorts) {
        // exists() follows a symbolic link: a dangling link is an unplugged device.
        if (QFileInfo::exists(port.systemLocation))
            ports.append(port);
    }
    return ports;
}
