// The Test button: the face test on a virtual camera, the network test
// against the fake store server and the probe test on a pseudo-terminal.
#include "WizardFixture.h"

#include "CameraList.h"
#include "CascadeFiles.h"
#include "FakeStoreServer.h"
#include "PseudoTerminal.h"
#include "SerialPortList.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QSerialPort>
#include <QSet>
#include <QTemporaryDir>
#include <QTcpServer>

#include <log4cxx/logmanager.h>

namespace {

const QString kFace = "<span style=\"font-weight:600; color:blue;\">Face detected</span>";
const QString kNoFace = "<span style=\"font-weight:600; color:#ff5500;\">No face detected</span>";

class WizardTestButton : public WizardFixture
{
protected:
    WizardTestButton() { log4cxx::LogManager::resetConfiguration(); }
    ~WizardTestButton() override
    {
        window.reset();
        log4cxx::LogManager::resetConfiguration();
        qunsetenv("NEROVA_VIRTUAL_CAMERAS");
        qunsetenv("NEROVA_VIRTUAL_SERIAL");
    }

    // The window on the test page with the camera showing the image and,
    // when given, the probe on a pseudo-terminal chosen.
    bool openOn(const char *image, const QString &server, const QString &extraConfig = QString())
    {
        const QString missing = installCascades(install.path());
        const QString picture = sharedImage(image);
        if (!missing.isEmpty() || picture.isEmpty()) {
            skipReason = "missing " + (missing.isEmpty() ? QString("../shared/data/images/") + image : missing);
            return false;
        }
        // The camera shows this file; a test may put another picture there.
        QFile::copy(picture, cameraFile());
        qputenv("NEROVA_VIRTUAL_CAMERAS", ("Door=" + cameraFile()).toUtf8());
        install.writeConfig("[Server]\nServer=" + server + "\nLoginUrl=/login\n" + extraConfig
                            + TestInstall::fileLogGroup("wizard"));
        open();
        child<QComboBox>("cmbFaceDevice")->setCurrentIndex(CameraList::realCameras().size() + 1);
        child<QLineEdit>("edtCodeValue")->setText("S-9");
        return true;
    }
    void chooseProbe()
    {
        probe = std::make_unique<PseudoTerminal>(install.path() + "/probe");
        qputenv("NEROVA_VIRTUAL_SERIAL", (install.path() + "/probe@1027-24577@Probe").toUtf8());
        click("btnRefreshProbeDevice");
        child<QComboBox>("cmbProbeDevice")->setCurrentIndex(SerialPortList::realPorts().size() + 1);
    }
    QString cameraFile() const { return install.path() + "/camera.png"; }
    void showOnCamera(const QImage &image) const
    {
        QFile::remove(cameraFile());
        image.save(cameraFile(), "PNG");
    }
    QStringList verdicts() const { return {text("lblRet1"), text("lblRet2"), text("lblRet3")}; }
    QString log() const { return install.logText("wizard.log"); }

    FakeStoreServer store;
    std::unique_ptr<PseudoTerminal> probe;
    QString skipReason;
};

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

TEST_F(WizardTestButton, FaceNetworkAndProbeSucceed)
{
    // Installed below a Chinese directory name: the cascades load all the same.
    QTemporaryDir links;
    const QString chinesePath = links.path() + QString::fromUtf8("/门店安装");
    ASSERT_TRUE(QFile::link(install.path(), chinesePath));
    qputenv("NEROVA_HOME", chinesePath.toUtf8());
    if (!openOn("astronaut.png", store.baseUrl()))
        GTEST_SKIP() << skipReason.toStdString();
    chooseProbe();
    store.answer("/login", R"({"state":0})");
    // The shots are analysed off the window's thread: it keeps painting,
    // and each shot shows that it is under way.
    QSet<QString> seenTesting;
    QElapsedTimer sinceTick;
    qint64 longestGap = 0;
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceTick.restart());
        for (const char *label : {"lblRet1", "lblRet2", "lblRet3"})
            if (text(label) == "Testing")
                seenTesting << label;
    });
    sinceTick.start();
    progress.start(20);
    click("btnTest");
    progress.stop();
    EXPECT_EQ(seenTesting.size(), 3);
    EXPECT_LT(longestGap, 1000);
    EXPECT_EQ(verdicts(), QStringList({kFace, kFace, kFace}));
    EXPECT_TRUE(child<QLabel>("lblCascades")->isHidden());
    EXPECT_FALSE(child<QLabel>("lblPic3")->pixmap(Qt::ReturnByValue).isNull());
    EXPECT_TRUE(log().contains("Tool: (3) 100, 80"));
    EXPECT_TRUE(log().contains("Tool: (1) Left eye: "));
    EXPECT_TRUE(log().contains("Classifier: "));
    EXPECT_EQ(store.requestsTo("/login").size(), 1u);
    EXPECT_EQ(text("lblTest"), "Network: success\nProbe: testing");
    EXPECT_EQ(child<QPushButton>("btnTest")->text(), "Test");
    EXPECT_TRUE(child<QPushButton>("btnTest")->isEnabled());

    ASSERT_TRUE(probe->write("x"));
    EXPECT_TRUE(waitUntil([&] { return text("lblTest") == "Network: success\nProbe: success"; }));
}

TEST_F(WizardTestButton, NoFaceWritesDebugPicturesAndFailuresShow)
{
    if (!openOn("baboon.jpg", QString("http://127.0.0.1:%1").arg(closedPort()), "[Nerova]\nDebugMode=true\n"))
        GTEST_SKIP() << skipReason.toStdString();
    click("btnTest");
    // The wizard's search starts with the cat face cascades: one finds a
    // face in the baboon, which has no human features.
    EXPECT_EQ(verdicts(), QStringList({kNoFace, kNoFace, kNoFace}));
    EXPECT_EQ(text("lblTest"), "Network: failure, Connection refused\nProbe: no choice");

    QImage blank(320, 240, QImage::Format_RGB32);
    blank.fill(Qt::gray);
    showOnCamera(blank);
    QDir(install.path()).mkpath("debug");
    click("btnTest");
    EXPECT_EQ(verdicts(), QStringList({kNoFace, kNoFace, kNoFace}));
    EXPECT_EQ(QDir(install.path() + "/debug").entryList({"*.no_face.png"}).size(), 3);
    EXPECT_EQ(log().count("Tool: No face detected"), 3);
}

// Slow: the network test waits its full 10 s for a server that never
// answers, then the probe test its 10 s for a probe that sends nothing.
TEST_F(WizardTestButton, ASilentServerTimesOutAndASilentProbeIsReleased)
{
    if (!openOn("astronaut.png", store.baseUrl()))
        GTEST_SKIP() << skipReason.toStdString();
    chooseProbe();
    store.answer("/login", R"({"state":0})");
    click("btnTest");
    EXPECT_EQ(text("lblTest"), "Network: success\nProbe: testing");

    // The next test takes the port back from the silent probe; without a
    // camera only the network and probe tests run.
    child<QComboBox>("cmbFaceDevice")->setCurrentIndex(0);
    FakeStoreServer::Answer silent;
    silent.never = true;
    store.answer("/login", silent);
    QElapsedTimer clock;
    clock.start();
    click("btnTest");
    EXPECT_GE(clock.elapsed(), 10000);
    const QString timedOut = "Network: failure, no answer within 10 s";
    EXPECT_EQ(text("lblTest"), timedOut + "\nProbe: testing");
    auto *port = window->findChild<QSerialPort *>();
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(waitUntil([&] { return !port->isOpen(); }, 15000));
    EXPECT_EQ(text("lblTest"), timedOut + "\nProbe: failure, no data within 10 s");
}

// A fresh installation has Debian's cascades but not the licensed feature
// cascades, and no server address: the window says so.
TEST_F(WizardTestButton, AFreshInstallationSaysWhatIsMissing)
{
    const QString missing = installDebianCascades(install.path());
    if (!missing.isEmpty())
        GTEST_SKIP() << "missing " << missing.toStdString();
    open();
    click("btnTest");
    EXPECT_EQ(text("lblTest"),
              "Network: failure, no server address is configured (Server/Server in conf/default.ini)\n"
              "Probe: no choice");
    EXPECT_FALSE(child<QLabel>("lblCascades")->isHidden());
    EXPECT_TRUE(text("lblCascades").contains(QString::fromUtf8("缺少特征分类器：左眼、右眼、鼻子、嘴巴（最高 0 分，阈值 80）")))
        << text("lblCascades").toStdString();
    EXPECT_TRUE(child<QLabel>("lblCascades")->toolTip().contains("data/haarcascades/haarcascade_mcs_mouth.xml"));
}

TEST_F(WizardTestButton, WithoutACameraTheOtherTestsRunAndClosingEndsATest)
{
    if (!openOn("astronaut.png", store.baseUrl()))
        GTEST_SKIP() << skipReason.toStdString();
    store.answer("/login", R"({"state":0})");
    child<QComboBox>("cmbFaceDevice")->setCurrentIndex(0);
    click("btnTest");
    EXPECT_EQ(text("lblTest"), "Network: success\nProbe: no choice");
    EXPECT_EQ(text("lblRet1"), "Unknown");
    EXPECT_EQ(store.requestsTo("/login").size(), 1u);

    // Closed while the first shot's 2 s wait runs: no further shot, no login.
    child<QComboBox>("cmbFaceDevice")->setCurrentIndex(CameraList::realCameras().size() + 1);
    QTimer closeAfterFirstShot;
    QObject::connect(&closeAfterFirstShot, &QTimer::timeout, [this] {
        if (text("lblRet1") == kFace)
            window->close();
    });
    closeAfterFirstShot.start(20);
    QElapsedTimer clock;
    clock.start();
    click("btnTest");
    EXPECT_LT(clock.elapsed(), 6000); // a whole run takes more than 6.2 s
    EXPECT_EQ(text("lblRet1"), kFace);
    EXPECT_EQ(text("lblRet2"), "Unknown");
    EXPECT_EQ(store.requestsTo("/login").size(), 1u);
}
