// How the library attaches to a host: a plain C host with a GLib loop
// delivers its events only while it iterates the loop, a Qt host keeps its
// own application object, the library stays mapped after dlclose(), and
// every host ends cleanly whether or not it called NV_Uninit.
#include "HostProcess.h"
#include "TestInstall.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

class HostAttachmentTest : public ::testing::Test
{
protected:
    void SetUp() override { install.writeConfig(TestInstall::fileLogGroup("first")); }

    // The Log group now names log/second.log; the library sees it only
    // when its file watcher's event is delivered.
    void renameLogFile() const { install.replaceConfig(TestInstall::fileLogGroup("second")); }

    // The library has seen the change once log4cxx opened the new file.
    bool changeSeen() const { return QFile::exists(install.logDir() + "second.log"); }

    int stopsIn(const QString &logFile) const { return install.logText(logFile).count("Stop working"); }

    static bool isMapped(const HostProcess &host)
    {
        QFile maps(QString("/proc/%1/maps").arg(host.pid()));
        if (!maps.open(QIODevice::ReadOnly))
            return false;
        return maps.readAll().contains(QFileInfo(HostProcess::libraryPath()).canonicalFilePath().toUtf8());
    }

    static void expectCleanEnd(HostProcess &host)
    {
        ASSERT_TRUE(host.finish());
        EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
    }

    TestInstall install;
};

TEST_F(HostAttachmentTest, CHostDeliversEventsWhileItsLoopRunsAndNotWhileItPauses)
{
    HostProcess host(HostProcess::Kind::C);
    ASSERT_TRUE(host.isLoaded());
    ASSERT_EQ(host.run("init"), 0);

    host.send("pause 2000\nstop");
    ASSERT_FALSE(host.next([](const QJsonObject &line) { return line.value("state") == "begin"; }).isEmpty());
    renameLogFile();
    ASSERT_EQ(host.reply("stop").value("result").toInt(), 0);
    EXPECT_EQ(stopsIn("first.log"), 1);
    EXPECT_EQ(stopsIn("second.log"), 0) << "the change was seen without a loop iteration";

    EXPECT_TRUE(host.loopUntil([&] { return changeSeen(); }));
    EXPECT_EQ(host.run("stop"), 0);
    EXPECT_EQ(stopsIn("second.log"), 1);
    expectCleanEnd(host);
}

TEST_F(HostAttachmentTest, CHostKeepsTheLibraryMappedAndWorkingAfterDlclose)
{
    HostProcess host(HostProcess::Kind::C);
    ASSERT_TRUE(host.isLoaded());
    ASSERT_EQ(host.run("init"), 0);
    EXPECT_EQ(host.run("dlclose"), 0);
    EXPECT_TRUE(isMapped(host));

    renameLogFile();
    EXPECT_TRUE(host.loopUntil([&] { return changeSeen(); })) << "the library's events stopped with the handle";
    EXPECT_EQ(host.run("dlopen"), 0);
    EXPECT_EQ(host.run("stop"), 0);
    EXPECT_EQ(stopsIn("second.log"), 1);
    EXPECT_EQ(host.run("uninit"), 0);
    expectCleanEnd(host);
}

TEST_F(HostAttachmentTest, QtHostKeepsItsApplicationAndItsLoopDeliversTheEvents)
{
    HostProcess host(HostProcess::Kind::Qt);
    ASSERT_TRUE(host.isLoaded());
    ASSERT_EQ(host.run("init"), 0);
    renameLogFile();
    EXPECT_TRUE(host.loopUntil([&] { return changeSeen(); }));
    EXPECT_EQ(host.run("stop"), 0);
    EXPECT_EQ(stopsIn("second.log"), 1);
    EXPECT_EQ(host.run("uninit"), 0);
    expectCleanEnd(host);

    const QList<QJsonObject> reports = host.lines("event", "app");
    QStringList stages;
    for (const QJsonObject &report : reports) {
        stages << report.value("after").toString();
        EXPECT_TRUE(report.value("own").toBool()) << report.value("after").toString().toStdString();
    }
    EXPECT_EQ(stages, QStringList({"load", "init", "uninit", "exit"}));
}

// Both hosts, with and without NV_Uninit: the process ends with status 0
// and no sanitizer report (the bootstrap application is never destroyed
// at exit, when Qt's own globals are already gone).
TEST_F(HostAttachmentTest, HostsExitCleanlyWithAndWithoutUninit)
{
    // A Qt host's dlclose() really unloads the library: it must call
    // NV_Uninit first, so only the C host ends with a bare dlclose().
    const QList<QPair<HostProcess::Kind, QStringList>> cases = {
        {HostProcess::Kind::C, {"uninit", "stop", "dlclose"}},
        {HostProcess::Kind::Qt, {"uninit", "stop", "uninit\ndlclose"}},
    };
    for (const auto &[kind, endings] : cases) {
        for (const QString &ending : endings) {
            SCOPED_TRACE((kind == HostProcess::Kind::C ? "C host, " : "Qt host, ") + ending.toStdString());
            HostProcess host(kind);
            ASSERT_TRUE(host.isLoaded());
            host.send("init\nreport {}\nloop 200\n" + ending);
            host.reply(ending.section('\n', -1));
            expectCleanEnd(host);
        }
    }
}

TEST_F(HostAttachmentTest, CHostWithoutGlibDispatcherIsToldItCannotDeliverEvents)
{
    HostProcess host(HostProcess::Kind::C, {"QT_NO_GLIB=1"});
    ASSERT_TRUE(host.isLoaded());
    EXPECT_EQ(host.run("init"), 0);
    expectCleanEnd(host);
    EXPECT_TRUE(host.errorOutput().contains("cannot deliver the library's events")) << host.errorOutput().toStdString();
    const QString log = install.logText("first.log");
    EXPECT_TRUE(log.contains("ERROR root - Qt's event dispatcher is not the GLib one")) << log.toStdString();
}

} // namespace
