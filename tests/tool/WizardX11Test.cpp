// The wizard program itself under a real X server, driven with real key
// and mouse events as an installer drives it: Enter, Escape, clicks on
// Test and Finish, against a store server that never answers the login.
#include "CameraList.h"
#include "FakeStoreServer.h"
#include "PseudoTerminal.h"
#include "TestInstall.h"
#include "XDisplay.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

// The buttons stand right-aligned in the row at y 190 of the window, 41
// high, which ends at x 410; they are 5 apart and, in the fusion style,
// 80 wide (their labels are narrower). From the right: Next (Finish on
// the test page), Previous, Test.
constexpr int kButtonRowMiddle = 190 + 41 / 2;
constexpr int buttonMiddle(int fromRight) { return 410 - 40 - fromRight * 85; }
constexpr int kNext = 0;
constexpr int kTest = 2;

class WizardX11 : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { display = new XDisplay; }
    static void TearDownTestSuite()
    {
        delete display;
        display = nullptr;
    }

    void SetUp() override
    {
        if (!display->problem().isEmpty())
            GTEST_SKIP() << display->problem().toStdString();
        FakeStoreServer::Answer silent;
        silent.never = true;
        store.answer("/login", silent);
    }

    ~WizardX11() override
    {
        if (wizard.state() != QProcess::NotRunning) {
            wizard.kill();
            wizard.waitForFinished();
        }
    }

    // The program on the configuration page, its window active (otherwise
    // what went wrong). The saved configuration chooses the camera (showing a grey picture) and the
    // probe (a pseudo-terminal), so that Next asks nothing.
    std::string start()
    {
        QImage grey(320, 240, QImage::Format_RGB32);
        grey.fill(Qt::gray);
        const QString cameras = "Door=" + install.path() + "/camera.png";
        grey.save(install.path() + "/camera.png", "PNG");
        probe = std::make_unique<PseudoTerminal>(install.path() + "/probe");
        const QString camera = CameraList::identifier(CameraList::virtualCameras(cameras).value(0).deviceName);
        install.writeConfig("[Server]\nServer=" + store.baseUrl() + "\nLoginUrl=/login\n[Nerova]\nDeviceId=\n"
                            + "[Face]\nFaceDevice=" + camera + "\n[Probe]\nProbeDevice=1027-24577\n"
                            + TestInstall::fileLogGroup("wizard"));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DISPLAY", display->name());
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("NEROVA_VIRTUAL_CAMERAS", cameras);
        environment.insert("NEROVA_VIRTUAL_SERIAL", install.path() + "/probe@1027-24577@Probe");
        wizard.setProcessEnvironment(environment);
        wizard.setProcessChannelMode(QProcess::ForwardedChannels);
        wizard.start(NEROVA_SIMPLE_TOOL, QStringList());
        if (!wizard.waitForStarted())
            return "the wizard did not start: " + wizard.errorString().toStdString();
        window = display->waitForWindow(wizard.processId());
        if (window.isEmpty())
            return "the wizard showed no window";
        return display->activate(window) ? "" : "the wizard's window did not become active";
    }

    bool clickButton(int fromRight) const { return display->click(window, buttonMiddle(fromRight), kButtonRowMiddle); }
    bool windowCountBecomes(int count) const
    {
        return waitUntil([&] { return display->windows(wizard.processId()).size() == count; });
    }

    // The program ends within the time, with exit code 0.
    void expectEndWithin(int ms)
    {
        QElapsedTimer clock;
        clock.start();
        const bool ended = wizard.waitForFinished(ms);
        // Otherwise waited for, so that what it did meanwhile is checked after.
        if (!ended)
            wizard.waitForFinished(30000);
        EXPECT_TRUE(ended) << "ended after " << clock.elapsed() << " ms";
        EXPECT_EQ(wizard.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(wizard.exitCode(), 0);
    }

    QString config() const
    {
        QFile file(install.configFile());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    size_t logins() const { return store.requestsTo("/login").size(); }

    static XDisplay *display;
    TestInstall install;
    FakeStoreServer store;
    std::unique_ptr<PseudoTerminal> probe;
    QProcess wizard;
    QString window;
};

XDisplay *WizardX11::display = nullptr;

} // namespace

TEST_F(WizardX11, EnterMeansNextAndFinishDuringTheNetworkTestEndsAtOnce)
{
    ASSERT_EQ(start(), "");
    // The store number field has the focus. Empty, Enter is refused with a
    // message box, which Escape closes alone.
    ASSERT_TRUE(display->key("Return"));
    ASSERT_TRUE(windowCountBecomes(2)) << "Enter in the empty store number field shows no message box";
    ASSERT_TRUE(display->key("Escape"));
    ASSERT_TRUE(windowCountBecomes(1));
    ASSERT_FALSE(wizard.waitForFinished(300)) << "Escape in the message box closed the wizard";

    ASSERT_TRUE(display->activate(window));
    ASSERT_TRUE(display->type("S-42"));
    ASSERT_TRUE(display->key("Return"));
    // Test is shown on the test page only.
    ASSERT_TRUE(clickButton(kTest));
    ASSERT_TRUE(waitUntil([&] { return logins() == 1; }, 15000)) << "no test ran: Enter did not open the test page";

    ASSERT_TRUE(clickButton(kNext));
    expectEndWithin(1000);
    EXPECT_TRUE(config().contains("DeviceId=S-42\n")) << config().toStdString();
    EXPECT_EQ(logins(), 1u);
}

TEST_F(WizardX11, EscapeDuringTheFaceTestEndsAtOnceAndSendsNothing)
{
    ASSERT_EQ(start(), "");
    ASSERT_TRUE(display->type("S-7"));
    ASSERT_TRUE(display->key("Return"));
    ASSERT_TRUE(clickButton(kTest));
    // The first shot is taken 0.2 s after Test, the second 2 s later.
    ASSERT_TRUE(waitUntil([&] { return install.logText("wizard.log").contains("Tool: No face detected"); }));
    ASSERT_TRUE(display->key("Escape"));
    expectEndWithin(1000);
    EXPECT_EQ(install.logText("wizard.log").count("Tool: No face detected"), 1);
    EXPECT_EQ(logins(), 0u);
    EXPECT_FALSE(config().contains("S-7")) << "Escape saved the store number";
}

TEST_F(WizardX11, EscapeOnTheConfigurationPageClosesTheWindow)
{
    ASSERT_EQ(start(), "");
    ASSERT_TRUE(display->type("S-8"));
    ASSERT_TRUE(display->key("Escape"));
    expectEndWithin(1000);
    EXPECT_FALSE(config().contains("S-8"));
}
