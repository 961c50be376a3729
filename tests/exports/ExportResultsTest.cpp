// The results of the eight exports and their states, through the real
// library in the plain C host.
#include "HostProcess.h"
#include "TestInstall.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

class ExportResultsTest : public ::testing::Test
{
protected:
    void SetUp() override { install.writeConfig(TestInstall::fileLogGroup("nerova")); }
    QString log() const { return install.logText("nerova.log"); }

    TestInstall install;
};

TEST_F(ExportResultsTest, BeforeInitOnlyVersionAndInitWork)
{
    HostProcess host(HostProcess::Kind::C);
    ASSERT_TRUE(host.isLoaded());
    host.send("version");
    EXPECT_EQ(host.reply("version").value("result").toString(), "1.0.10");
    EXPECT_EQ(host.run("start"), 6001);
    EXPECT_EQ(host.run("stop"), 6001);
    EXPECT_EQ(host.run("logout"), 6001);
    EXPECT_EQ(host.run("login user secret"), 6001);
    EXPECT_EQ(host.run("login-null"), 6001);
    EXPECT_EQ(host.run("report {}"), 6001);
    EXPECT_EQ(host.run("report-null"), 6001);
    EXPECT_EQ(host.run("uninit"), 0);

    EXPECT_EQ(host.run("init-null"), 6002);
    EXPECT_EQ(host.run("start"), 6001);
    EXPECT_EQ(host.run("uninit"), 0);
    host.send("version");
    EXPECT_EQ(host.reply("version").value("result").toString(), "1.0.10");
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
    EXPECT_EQ(log(), QString()) << "nothing is created or logged before NV_Init succeeds";
}

TEST_F(ExportResultsTest, LifecycleFromInitToUninitAndBack)
{
    HostProcess host(HostProcess::Kind::C);
    ASSERT_TRUE(host.isLoaded());
    EXPECT_EQ(host.run("init"), 0);
    EXPECT_EQ(host.run("init-other"), 0);
    EXPECT_EQ(host.run("init-null"), 6002);
    EXPECT_TRUE(log().contains("SDK init already")) << log().toStdString();
    EXPECT_EQ(host.run("start"), 6101) << "no session before a login answer";
    EXPECT_EQ(host.run("report {\"amount\":1}"), 6101);
    EXPECT_EQ(host.run("login-null"), 6005);
    EXPECT_EQ(host.run("login-blank"), 6005);
    EXPECT_EQ(host.run("stop"), 0);
    EXPECT_EQ(host.run("logout"), 0);
    EXPECT_EQ(host.run("uninit"), 0);
    EXPECT_EQ(host.run("uninit"), 0);
    EXPECT_EQ(host.run("stop"), 6001);
    EXPECT_EQ(host.run("start"), 6001);
    EXPECT_EQ(host.run("init"), 0);
    EXPECT_EQ(host.run("stop"), 0);
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
    EXPECT_EQ(log().count("Init success"), 2) << log().toStdString();
    EXPECT_GT(log().lastIndexOf("Stop working"), log().lastIndexOf("Init success"));
}

} // namespace

namespace {

// The dynamic symbol table of the library holds the eight exports and
// nothing else of ours.
TEST(ExportSymbolsTest, OnlyTheEightExportsAreVisible)
{
    QProcess nm;
    nm.start("nm", {"-D", "--defined-only", HostProcess::libraryPath()});
    ASSERT_TRUE(nm.waitForFinished());
    ASSERT_EQ(nm.exitCode(), 0);
    QStringList names;
    for (const QString &line : QString::fromUtf8(nm.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        names << line.section(' ', -1);
    names.sort();
    EXPECT_EQ(names, QStringList({"NV_GetVersion", "NV_Init", "NV_Login", "NV_Logout", "NV_ReportData", "NV_Start",
                                  "NV_Stop", "NV_Uninit"}));
}

} // namespace
