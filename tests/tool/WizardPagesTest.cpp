// The wizard's start, its two pages and what Finish writes.
#include "WizardFixture.h"

#include "WizardStartup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTranslator>

#include <log4cxx/logmanager.h>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The shipped example with values an installer may have typed.
QByteArray installerFile()
{
    return readFile(NEROVA_SOURCE_DIR "/conf/default.ini")
        .replace("BaiduGroup=", "BaiduGroup=\xe9\x97\xa8\xe5\xba\x97 ; UTF-8 as typed")
        .replace("ProxyHost=", "ProxyHost=\"proxy;8080\"");
}

struct CloseSpy : QObject
{
    bool eventFilter(QObject *, QEvent *event) override
    {
        closeEvents += event->type() == QEvent::Close;
        return false;
    }
    int closeEvents = 0;
};

} // namespace

class WizardPages : public WizardFixture
{
protected:
    void goToTestPage()
    {
        child<QLineEdit>("edtCodeValue")->setText(" 12 ");
        const Box box = clickExpectingBox("btnNext", QString::fromUtf8("确定"));
        ASSERT_EQ(box.title, QString::fromUtf8("警告"));
    }
    bool shown(const char *name) const { return child<QWidget>(name)->isVisible(); }
};

TEST_F(WizardPages, StartsOnTheConfigurationPageWithTheSavedStoreNumber)
{
    install.writeConfig("[Nerova]\nDeviceId=S-17\n");
    open();
    EXPECT_EQ(child<QLineEdit>("edtCodeValue")->text(), "S-17");
    EXPECT_TRUE(shown("wgtConfig"));
    EXPECT_FALSE(shown("wgtTest"));
    EXPECT_FALSE(shown("btnTest"));
    EXPECT_FALSE(shown("btnPrevious"));
    EXPECT_EQ(child<QPushButton>("btnNext")->text(), QString::fromUtf8("下一步"));
    // The size is that of the configuration page and the buttons, fixed.
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_EQ(window->size(), QSize(420, 180 + 30 + 60));
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);
    // Untranslated, the texts set in code keep their source form.
    EXPECT_EQ(text("lblRet1"), "Unknown");
    EXPECT_EQ(text("lblTest"), "Network: unknown\nProbe: unknown");
    EXPECT_EQ(text("lblCode"), QString::fromUtf8("门店编号"));
    EXPECT_EQ(child<QComboBox>("cmbFaceDevice")->currentText(), "No device");
}

TEST_F(WizardPages, StoreNumberIsRequired)
{
    open();
    child<QLineEdit>("edtCodeValue")->setText("  \t ");
    const Box box = clickExpectingBox("btnNext", QString::fromUtf8("确定"));
    EXPECT_EQ(box.title, QString::fromUtf8("错误"));
    EXPECT_EQ(box.text, QString::fromUtf8("门店编号必须输入"));
    EXPECT_EQ(box.buttons, QStringList{QString::fromUtf8("确定")});
    EXPECT_EQ(box.style, "*{font-size: 14px;}");
    EXPECT_TRUE(shown("wgtConfig"));
}

TEST_F(WizardPages, DeviceWarningCancelEscapeAndOk)
{
    open();
    child<QLineEdit>("edtCodeValue")->setText(" 12 ");
    Box box = clickExpectingBox("btnNext", QString::fromUtf8("取消"));
    EXPECT_EQ(box.title, QString::fromUtf8("警告"));
    EXPECT_EQ(box.text, QString::fromUtf8("未选择有效的人脸或探针设备，相关业务将不能运作，继续下一步吗"));
    EXPECT_EQ(box.buttons, (QStringList{QString::fromUtf8("取消"), QString::fromUtf8("确定")}));
    EXPECT_TRUE(shown("wgtConfig"));
    clickExpectingBox("btnNext", QString());
    EXPECT_TRUE(shown("wgtConfig"));

    clickExpectingBox("btnNext", QString::fromUtf8("确定"));
    EXPECT_FALSE(shown("wgtConfig"));
    EXPECT_TRUE(shown("wgtTest"));
    EXPECT_EQ(child<QWidget>("wgtTest")->geometry(), child<QWidget>("wgtConfig")->geometry());
    EXPECT_TRUE(shown("btnTest"));
    EXPECT_TRUE(shown("btnPrevious"));
    EXPECT_EQ(child<QPushButton>("btnNext")->text(), "Finish");

    click("btnPrevious");
    EXPECT_TRUE(shown("wgtConfig"));
    EXPECT_FALSE(shown("wgtTest"));
    EXPECT_FALSE(shown("btnTest"));
    EXPECT_FALSE(shown("btnPrevious"));
    EXPECT_EQ(child<QPushButton>("btnNext")->text(), "Next");
}

TEST_F(WizardPages, EnterInTheStoreNumberFieldIsNextAndEscapeIsClose)
{
    open();
    auto *field = child<QLineEdit>("edtCodeValue");
    field->setText(" 12 ");
    // Next's question, rather than a refreshed camera list.
    const Box box = expectingBox([field] { QTest::keyClick(field, Qt::Key_Return); }, QString::fromUtf8("确定"));
    EXPECT_EQ(box.title, QString::fromUtf8("警告"));
    EXPECT_TRUE(shown("wgtTest"));
    for (const char *name : {"btnFaceDeviceRefresh", "btnRefreshProbeDevice", "btnTest", "btnPrevious"})
        EXPECT_FALSE(child<QPushButton>(name)->autoDefault() || child<QPushButton>(name)->isDefault()) << name;

    // The close event is what stops a running test and releases the devices.
    CloseSpy spy;
    window->installEventFilter(&spy);
    QTest::keyClick(child<QPushButton>("btnTest"), Qt::Key_Escape);
    EXPECT_EQ(spy.closeEvents, 1);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(WizardPages, FinishWritesTheStoreNumberAndLeavesEverythingElse)
{
    const QByteArray before = installerFile();
    install.writeConfig(QString::fromUtf8(before));
    open();
    goToTestPage();
    finish();
    EXPECT_EQ(readFile(install.configFile()), QByteArray(before).replace("DeviceId=\n", "DeviceId=\" 12 \"\n"));

    // A missing file is created with the key.
    QFile::remove(install.configFile());
    open();
    goToTestPage();
    finish();
    EXPECT_EQ(readFile(install.configFile()), QByteArray("[Nerova]\nDeviceId=\" 12 \"\n"));

    // A link stays a link: the file it points to gets the new text.
    const QString shared = install.path() + "/shared.ini";
    QFile::rename(install.configFile(), shared);
    QFile::link("../shared.ini", install.configFile());
    open();
    child<QLineEdit>("edtCodeValue")->setText("S-3");
    clickExpectingBox("btnNext", QString::fromUtf8("确定"));
    finish();
    EXPECT_EQ(QFileInfo(install.configFile()).symLinkTarget(), shared);
    EXPECT_EQ(readFile(shared), QByteArray("[Nerova]\nDeviceId=S-3\n"));
}

// Run with sudo, the wizard must leave the file to the host's user: the
// library, running as that user, reads nothing from a file it may not read.
TEST_F(WizardPages, FinishKeepsTheOwnerGroupAndModeOfTheFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root may give the file to another user";
    install.writeConfig("[Nerova]\nDeviceId=old\n");
    const QByteArray name = QFile::encodeName(install.configFile());
    ASSERT_EQ(::chown(name.constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(name.constData(), 0640), 0);
    open();
    goToTestPage();
    finish();
    struct stat status {};
    ASSERT_EQ(::stat(name.constData(), &status), 0);
    EXPECT_EQ(status.st_uid, 65534u);
    EXPECT_EQ(status.st_gid, 65534u);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(install.configFile()), QByteArray("[Nerova]\nDeviceId=\" 12 \"\n"));
}

// A file or directory without any write permission was made read-only on
// purpose, and is left alone even by root. The failure is shown, the window
// stays on the test page, and Finish saves once the cause is put right.
TEST_F(WizardPages, AFailedSaveIsShownAndFinishCanBePressedAgain)
{
    const QByteArray before = ("[Nerova]\nDeviceId=old\n" + TestInstall::fileLogGroup("wizard")).toUtf8();
    install.writeConfig(QString::fromUtf8(before));
    const QString confDir = install.path() + "/conf";
    const QString expectedText = QString::fromUtf8("配置文件保存失败：%1\n%2\n请检查文件及其目录的写权限，然后再点击完成。")
                                     .arg(install.configFile(), QString::fromLocal8Bit(std::strerror(EACCES)));
    open();
    goToTestPage();
    for (const QString &readOnly : {install.configFile(), confDir}) {
        QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther | QFile::ExeOwner);
        testing::internal::CaptureStderr();
        const Box box = clickExpectingBox("btnNext", QString::fromUtf8("确定"));
        const std::string stderrText = testing::internal::GetCapturedStderr();
        EXPECT_EQ(box.title, QString::fromUtf8("错误")) << readOnly.toStdString();
        EXPECT_EQ(box.text, expectedText);
        EXPECT_EQ(box.buttons, QStringList{QString::fromUtf8("确定")});
        EXPECT_EQ(box.style, "*{font-size: 14px;}");
        EXPECT_NE(stderrText.find("nerova: ERROR Tool: Cannot save " + install.configFile().toStdString()),
                  std::string::npos) << stderrText;
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(shown("wgtTest"));
        QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_EQ(readFile(install.configFile()), before);
        EXPECT_EQ(QDir(confDir).entryList(QDir::Files), QStringList{"default.ini"});
    }
    EXPECT_EQ(install.logText("wizard.log").count("ERROR root - Tool: Cannot save " + install.configFile() + ": "), 2)
        << install.logText("wizard.log").toStdString();
    finish();
    log4cxx::LogManager::resetConfiguration();
    EXPECT_EQ(readFile(install.configFile()), QByteArray(before).replace("DeviceId=old", "DeviceId=\" 12 \""));
}

TEST_F(WizardPages, StartUpAppliesFontAndTranslation)
{
    QDir(install.path()).mkpath("font");
    QFile::copy("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc", install.path() + "/font/wqy-microhei.ttc");
    install.installTranslation();
    QTranslator translator;
    WizardStartup::prepare(install.path(), translator);
    open();
    EXPECT_EQ(QApplication::font().family(), "WenQuanYi Micro Hei");
    EXPECT_EQ(QApplication::style()->objectName(), "fusion");
    EXPECT_EQ(text("lblRet1"), QString::fromUtf8("未知"));
    EXPECT_EQ(text("lblTest"), QString::fromUtf8("网络：未知\n探针：未知"));
    EXPECT_EQ(child<QComboBox>("cmbFaceDevice")->currentText(), QString::fromUtf8("无设备"));
    goToTestPage();
    EXPECT_EQ(child<QPushButton>("btnNext")->text(), QString::fromUtf8("完成"));
    QCoreApplication::removeTranslator(&translator);
}
