#pragma once

#include <QList>
#include <QString>

// One camera as the programs see it. deviceName has the Windows form
//   \\?\usb#vid_046d&pid_0825&mi_00#1-1.2&0&0000#{65e8773d-...}\global
// so that the camera identifier stored in the configuration is the same
// text on every platform; captureTarget is what the capture opens: the
// V4L2 device node of a real camera, the file or URL of a virtual one.
struct CameraInfo
{
    QString deviceName;
    QString description;
    int position = 0; // unspecified: USB cameras do not say where they face
    QString captureTarget;
    bool isVirtual = false;
};

// The cameras present now: the real V4L2 cameras (one entry per camera,
// however many device nodes it has), then the virtual cameras named by the
// environment variable NEROVA_VIRTUAL_CAMERAS, read again at every call:
//   "Front door=/srv/door.png;Till=rtsp://10.0.0.5/live"
// Each entry is "description=source"; a source is a still image, a video
// file or a stream URL. Virtual cameras get vid_0000&pid_0000 and the port
// path virtual<k>, k counting them from 1. The real cameras are read once
// and again only when the device directories change (DeviceChangeWatch).
class CameraList
{
public:
    static QList<CameraInfo> available();

    // The V4L2 cameras below a sysfs class directory (tests pass a tree of
    // their own).
    static QList<CameraInfo> realCameras(const QString &sysfsClassDir = QStringLiteral("/sys/class/video4linux"));
    static QList<CameraInfo> virtualCameras(const QString &entries);

    // The camera identifier: the text between "usb#" and "&0&0000#". Without
    // "usb#" it starts at the fourth character; without a following
    // "&0&0000#" it runs to the end.
    static QString identifier(const QString &deviceName);

    static QString windowsDeviceName(int vendorId, int productId, int interfaceNumber, const QString &portPath);
};
