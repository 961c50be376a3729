#pragma once

#include "CameraList.h"
#include "SerialPortList.h"

#include <QList>
#include <QString>

class QComboBox;

// The two device lists of the configuration page. Entry 0 is the
// placeholder ("Please choose a device", or "No device" when nothing was
// found), with no data; entry k (k >= 1) is device k - 1 of the list given,
// with its identifier as the entry's data. The saved identifier (compared
// without regard to case) chooses the current entry.
class DeviceLists
{
public:
    // Cameras are shown by their description; the entry chosen is the first
    // one whose text is that of the matching camera.
    static void fillCameras(QComboBox *box, const QList<CameraInfo> &cameras, const QString &savedIdentifier);
    // Ports are shown as "description-portName"; of several ports with the
    // saved identifier the last one is chosen.
    static void fillProbes(QComboBox *box, const QList<SerialPortEntry> &ports, const QString &savedIdentifier);

private:
    static void startList(QComboBox *box);
    static void finishList(QComboBox *box);
};
