#include "DeviceLists.h"

#include "LogText.h"

#include <QComboBox>
#include <QDebug>
#include <QIcon>

void DeviceLists::startList(QComboBox *box)
{
    box->clear();
    box->insertItem(0, QIcon(), QObject::tr("Please choose a device"));
}

void DeviceLists::finishList(QComboBox *box)
{
    if (box->count() == 1)
        box->setItemText(0, QObject::tr("No device"));
}

void DeviceLists::fillCameras(QComboBox *box, const QList<CameraInfo> &cameras, const QString &savedIdentifier)
{
    startList(box);
    for (const CameraInfo &camera : cameras) {
        qDebug() << "Camera:" << camera.deviceName << LogText::safe(camera.description)
                 << LogText::safe(camera.captureTarget);
        const QString identifier = CameraList::identifier(camera.deviceName);
        box->addItem(QIcon(), camera.description, identifier);
        if (identifier.compare(savedIdentifier, Qt::CaseInsensitive) == 0)
            box->setCurrentIndex(box->findText(camera.description, Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
    finishList(box);
}

void DeviceLists::fillProbes(QComboBox *box, const QList<SerialPortEntry> &ports, const QString &savedIdentifier)
{
    startList(box);
    for (const SerialPortEntry &port : ports) {
        const QString identifier = port.probeDeviceIdentifier();
        const QString text = port.description + QString("-%1").arg(port.portName);
        box->addItem(QIcon(), text, identifier);
        if (identifier.compare(savedIdentifier, Qt::CaseInsensitive) == 0)
            box->setCurrentIndex(box->count() - 1);
    }
    finishList(box);
}
