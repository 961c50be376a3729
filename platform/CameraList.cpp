#include "CameraList.h"

#include "CachedDeviceList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <algorithm>

namespace {

QString sysfsText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
}

int hexValue(const QString &path)
{
    bool ok = false;
    const int value = sysfsText(path).toInt(&ok, 16);
    return ok ? value : 0;
}

// One V4L2 node with the device it belongs to. A USB camera's nodes hang
// below its video interface; the capture node is the one with index 0
// (the others carry metadata).
struct VideoNode
{
    int nodeNumber = 0;
    int index = 0;
    QString deviceDir;
    QString name;
};

QList<VideoNode> videoNodes(const QString &classDir)
{
    QList<VideoNode> nodes;
    const QStringList entries = QDir(classDir).entryList({QStringLiteral("video*")}, QDir::Dirs | QDir::System);
    for (const QString &entry : entries) {
        bool ok = false;
        const int number = entry.mid(5).toInt(&ok);
        if (!ok)
            continue;
        const QString nodeDir = classDir + QLatin1Char('/') + entry;
        VideoNode node;
        node.nodeNumber = number;
        node.index = sysfsText(nodeDir + QStringLiteral("/index")).toInt();
        node.deviceDir = QFileInfo(nodeDir + QStringLiteral("/device")).canonicalFilePath();
        node.name = sysfsText(nodeDir + QStringLiteral("/name"));
        if (!node.deviceDir.isEmpty())
            nodes.append(node);
    }
    std::sort(nodes.begin(), nodes.end(),
              [](const VideoNode &a, const VideoNode &b) { return a.nodeNumber < b.nodeNumber; });
    return nodes;
}

CameraInfo realCamera(const VideoNode &node)
{
    CameraInfo camera;
    camera.description = node.name;
    camera.captureTarget = QStringLiteral("/dev/video%1").arg(node.nodeNumber);
    const QString interfaceDir = node.deviceDir;
    const QString usbDeviceDir = QFileInfo(interfaceDir).path();
    if (QFile::exists(interfaceDir + QStringLiteral("/bInterfaceNumber"))) {
        camera.deviceName = CameraList::windowsDeviceName(
            hexValue(usbDeviceDir + QStringLiteral("/idVendor")), hexValue(usbDeviceDir + QStringLiteral("/idProduct")),
            hexValue(interfaceDir + QStringLiteral("/bInterfaceNumber")), QFileInfo(usbDeviceDir).fileName());
    } else {
        // Not a USB camera: the device's own sysfs name stands in for the port.
        camera.deviceName = CameraList::windowsDeviceName(0, 0, 0, QFileInfo(interfaceDir).fileName());
    }
    return camera;
}

} // namespace

QString CameraList::windowsDeviceName(int vendorId, int productId, int interfaceNumber, const QString &portPath)
{
    return QStringLiteral("\\\\?\\usb#vid_%1&pid_%2&mi_%3#%4&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global")
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'))
        .arg(interfaceNumber, 2, 16, QLatin1Char('0'))
        .arg(portPath);
}

QString CameraList::identifier(const QString &deviceName)
{
    const int start = deviceName.indexOf(QLatin1String("usb#")) + 4;
    const int end = deviceName.indexOf(QLatin1String("&0&0000#"));
    const int length = end - start;
    return deviceName.mid(start, length < 0 ? -1 : length);
}

QList<CameraInfo> CameraList::realCameras(const QString &sysfsClassDir)
{
    QList<CameraInfo> cameras;
    QMap<QString, int> lowestIndexOfDevice;
    const QList<VideoNode> nodes = videoNodes(sysfsClassDir);
    for (const VideoNode &node : nodes) {
        auto known = lowestIndexOfDevice.find(node.deviceDir);
        if (known == lowestIndexOfDevice.end() || node.index < known.value())
            lowestIndexOfDevice[node.deviceDir] = node.index;
    }
    QStringList listed;
    for (const VideoNode &node : nodes) {
        if (node.index != lowestIndexOfDevice.value(node.deviceDir) || listed.contains(node.deviceDir))
            continue;
        listed.append(node.deviceDir);
        cameras.append(realCamera(node));
    }
    return cameras;
}

QList<CameraInfo> CameraList::virtualCameras(const QString &entries)
{
    QList<CameraInfo> cameras;
    const QStringList parts = entries.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        const int separator = part.indexOf(QLatin1Char('='));
        if (separator < 0)
            continue;
        CameraInfo camera;
        camera.description = part.left(separator).trimmed();
        camera.captureTarget = part.mid(separator + 1).trimmed();
        camera.isVirtual = true;
        camera.deviceName = windowsDeviceName(0, 0, 0, QStringLiteral("virtual%1").arg(cameras.size() + 1));
        cameras.append(camera);
    }
    return cameras;
}

// The real cameras are kept until a camera comes or goes; the virtual ones
// are read from the environment every time.
QList<CameraInfo> CameraList::available()
{
    static CachedDeviceList<CameraInfo> real(DeviceChangeWatch::machine(), [] { return realCameras(); });
    return real.entries() + virtualCameras(qEnvironmentVariable("NEROVA_VIRTUAL_CAMERAS"));
}
