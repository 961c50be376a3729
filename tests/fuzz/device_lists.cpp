// The device texts: camera device names (the identifier rule, and device
// names built from sysfs numbers and port paths, whose identifier must give
// back exactly those parts) and the NEROVA_VIRTUAL_CAMERAS and
// NEROVA_VIRTUAL_SERIAL variables. The first byte chooses the input.
#include "CameraList.h"
#include "SerialPortList.h"

#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        abort();
}

QString textOf(const uint8_t *data, size_t size)
{
    return QString::fromLocal8Bit(reinterpret_cast<const char *>(data), static_cast<int>(size));
}

// Vendor and product (two bytes each, big-endian), interface, port path.
void builtDeviceName(const uint8_t *data, size_t size)
{
    if (size < 5)
        return;
    const int vendor = data[0] << 8 | data[1];
    const int product = data[2] << 8 | data[3];
    const int interface = data[4];
    const QString port = textOf(data + 5, size - 5);
    const QString identifier = CameraList::identifier(CameraList::windowsDeviceName(vendor, product, interface, port));
    if (!port.contains(QLatin1String("&0&0000#")))
        require(identifier
                == QStringLiteral("vid_%1&pid_%2&mi_%3#")
                           .arg(vendor, 4, 16, QLatin1Char('0'))
                           .arg(product, 4, 16, QLatin1Char('0'))
                           .arg(interface, 2, 16, QLatin1Char('0'))
                       + port);
}

void virtualCameras(const QString &text)
{
    const QList<CameraInfo> cameras = CameraList::virtualCameras(text);
    for (int k = 0; k < cameras.size(); ++k) {
        require(cameras[k].isVirtual && !cameras[k].captureTarget.contains(QLatin1Char(';')));
        require(CameraList::identifier(cameras[k].deviceName)
                == QStringLiteral("vid_0000&pid_0000&mi_00#virtual%1").arg(k + 1));
    }
}

void virtualPorts(const QString &text)
{
    for (const SerialPortEntry &port : SerialPortList::parseVirtualPorts(text)) {
        require(!port.systemLocation.isEmpty() && !port.systemLocation.contains(QLatin1Char('@'))
                && !port.systemLocation.contains(QLatin1Char(';')));
        require(port.probeDeviceIdentifier()
                == QStringLiteral("%1-%2").arg(port.vendorIdentifier).arg(port.productIdentifier));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QString text = textOf(data + 1, size - 1);
    switch (data[0] % 4) {
    case 0:
        CameraList::identifier(text);
        break;
    case 1:
        builtDeviceName(data + 1, size - 1);
        break;
    case 2:
        virtualCameras(text);
        break;
    default:
        virtualPorts(text);
        break;
    }
    return 0;
}
