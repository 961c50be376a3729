// The device lists from virtual cameras and ports, and what Finish writes
// for the chosen devices.
#include "WizardFixture.h"

#include "CameraList.h"
#include "CascadeFiles.h"
#include "SerialPortList.h"

#include <QFile>
#include <QSettings>

namespace {

class WizardDevices : public WizardFixture
{
protected:
    ~WizardDevices() override
    {
        qunsetenv("NEROVA_VIRTUAL_CAMERAS");
        qunsetenv("NEROVA_VIRTUAL_SERIAL");
    }

    // Two ports with the same identifier and one other, as plain files.
    void addPorts()
    {
        QStringList entries;
        for (const char *name : {"ttyA", "ttyB", "ttyC"}) {
            QFile(install.path() + "/" + name).open(QIODevice::WriteOnly);
            entries << install.path() + "/" + name + (name[3] == 'C' ? "@1-2@Other" : "@1027-24577@Probe");
        }
        qputenv("NEROVA_VIRTUAL_SERIAL", entries.join(';').toUtf8());
    }

    QComboBox *faces() const { return child<QComboBox>("cmbFaceDevice"); }
    QComboBox *probes() const { return child<QComboBox>("cmbProbeDevice"); }

    const int realCameras = CameraList::realCameras().size();
    const int realPorts = SerialPortList::realPorts().size();
};

} // namespace

TEST_F(WizardDevices, CamerasAreChosenByTheShownTextOfTheSavedOne)
{
    const QString image = sharedImage("astronaut.png");
    if (image.isEmpty())
        GTEST_SKIP() << "missing ../shared/data/images/astronaut.png";
    qputenv("NEROVA_VIRTUAL_CAMERAS", QString("Door=%1;Till=%1;Door=%1").arg(image).toUtf8());
    const QString third = CameraList::identifier(CameraList::available()[realCameras + 2].deviceName);
    install.writeConfig("[Face]\nFaceDevice=" + third.toUpper() + "\n");
    open();
    ASSERT_EQ(faces()->count(), realCameras + 4);
    EXPECT_EQ(faces()->itemText(0), "Please choose a device");
    EXPECT_FALSE(faces()->itemData(0).isValid());
    EXPECT_EQ(faces()->itemText(realCameras + 3), "Door");
    EXPECT_EQ(faces()->itemData(realCameras + 3).toString(), third);
    // The saved camera is the third; the first entry with its text is chosen.
    EXPECT_EQ(faces()->currentIndex(), realCameras + 1);

    if (realCameras > 0)
        return;
    qunsetenv("NEROVA_VIRTUAL_CAMERAS");
    click("btnFaceDeviceRefresh");
    EXPECT_EQ(faces()->count(), 1);
    EXPECT_EQ(faces()->currentText(), "No device");
    EXPECT_EQ(faces()->currentData().toString(), QString());
}

TEST_F(WizardDevices, PortsAreShownWithTheirNameAndTheLastMatchIsChosen)
{
    addPorts();
    install.writeConfig("[Probe]\nProbeDevice=1027-24577\n");
    open();
    ASSERT_EQ(probes()->count(), realPorts + 4);
    EXPECT_EQ(probes()->itemText(realPorts + 1), "Probe-" + install.path() + "/ttyA");
    EXPECT_EQ(probes()->itemData(realPorts + 3).toString(), "1-2");
    EXPECT_EQ(probes()->currentIndex(), realPorts + 2);

    // Saved elsewhere: the placeholder stays current.
    install.writeConfig("[Probe]\nProbeDevice=9-9\n");
    open();
    EXPECT_EQ(probes()->currentIndex(), 0);
    EXPECT_EQ(probes()->currentText(), "Please choose a device");
}

TEST_F(WizardDevices, FinishWritesTheChosenDevicesOnly)
{
    const QString image = sharedImage("astronaut.png");
    if (image.isEmpty())
        GTEST_SKIP() << "missing ../shared/data/images/astronaut.png";
    qputenv("NEROVA_VIRTUAL_CAMERAS", QString("Door=%1").arg(image).toUtf8());
    addPorts();
    install.writeConfig("[Nerova]\nDeviceId=1\n[Face]\nFaceDevice=kept\n[Probe]\nProbeDevice=old\n");

    // The face list left on its placeholder: the warning, and the face key kept.
    open();
    probes()->setCurrentIndex(realPorts + 3);
    clickExpectingBox("btnNext", QString::fromUtf8("确定"));
    finish();
    {
        QSettings saved(install.configFile(), QSettings::IniFormat);
        EXPECT_EQ(saved.value("Probe/ProbeDevice").toString(), "1-2");
        EXPECT_EQ(saved.value("Face/FaceDevice").toString(), "kept");
    }

    // Both chosen: no warning, both written, the camera by its identifier.
    open();
    faces()->setCurrentIndex(realCameras + 1);
    probes()->setCurrentIndex(realPorts + 1);
    click("btnNext");
    ASSERT_TRUE(child<QWidget>("wgtTest")->isVisible());
    finish();
    QSettings saved(install.configFile(), QSettings::IniFormat);
    EXPECT_EQ(saved.value("Probe/ProbeDevice").toString(), "1027-24577");
    EXPECT_EQ(saved.value("Face/FaceDevice").toString(),
              CameraList::identifier(CameraList::available()[realCameras].deviceName));
    EXPECT_EQ(saved.value("Nerova/DeviceId").toString(), "1");
}
