// The device lists from virtual devices, and what Finish writes
// for the chosen devices.
#include "WizardFixture.h"

#include "SerialPortList.h"

#include <QFile>
#include <QSettings>

namespace {

class WizardDevices : public WizardFixture
{
protected:
    ~WizardDevices() override
    {
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

    QComboBox *probes() const { return child<QComboBox>("cmbProbeDevice"); }

    const int realPorts = SerialPortList::realPorts().size();
};

} // namespace

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

TEST_F(WizardDevices, FinishWritesTheChosenProbeAndKeepsTheFaceDevice)
{
    addPorts();
    install.writeConfig("[Nerova]\nDeviceId=1\n[Face]\nFaceDevice=kept\n[Probe]\nProbeDevice=old\n");
    open();
    probes()->setCurrentIndex(realPorts + 3);
    clickExpectingBox("btnNext", QString::fromUtf8("确定"));
    finish();
    QSettings saved(install.configFile(), QSettings::IniFormat);
    EXPECT_EQ(saved.value("Probe/ProbeDevice").toString(), "1-2");
    EXPECT_EQ(saved.value("Face/FaceDevice").toString(), "kept");
}
