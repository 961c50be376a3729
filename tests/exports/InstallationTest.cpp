// A complete installation laid out by the install step runs as it is: its
// example host finds the library beside itself, and the library works in
// the host's directory and logs where the example configuration says,
// without changing the host's current directory.
#include "HostProcess.h"
#include "InstalledCopy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(InstallationTest, InstalledCHostRunsTheInstalledLibrary)
{
    const InstalledCopy prefix;
    ASSERT_TRUE(prefix.isValid()) << prefix.installOutput().toStdString();

    HostProcess host(HostProcess::Kind::C, {"-NEROVA_HOME", "ASAN_OPTIONS=" + InstalledCopy::asanOptions()},
                     prefix.path() + "/nerova_c_host");
    ASSERT_TRUE(host.isLoaded());
    // The host works in a directory of its own (the test's), not in the
    // installation: the library leaves it there.
    host.send("cwd");
    const QString before = host.reply("cwd").value("result").toString();
    ASSERT_NE(QDir(before).canonicalPath(), QDir(prefix.path()).canonicalPath());
    EXPECT_EQ(host.run("init"), 0);
    host.send("cwd");
    EXPECT_EQ(host.reply("cwd").value("result").toString(), before);
    EXPECT_EQ(host.run("uninit"), 0);
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
    EXPECT_FALSE(host.errorOutput().contains("No configuration")) << host.errorOutput().toStdString();
    EXPECT_EQ(host.lines("cmd", "load").value(0).value("path").toString(), prefix.path() + "/libnerova.so");

    const QString log = fileText(prefix.path() + "/log/nerova.log");
    const int initialised = log.indexOf("Init success");
    ASSERT_GE(initialised, 0) << log.toStdString();
    EXPECT_GT(log.indexOf("WindowsVersion: ", initialised), initialised);
    EXPECT_TRUE(QFile::exists(prefix.path() + "/include/nerova.h"));
    // The installed cascades are found from there (their paths are relative
    // to the installation), and they are the group's to read, not to
    // change, so the library takes them.
    EXPECT_FALSE(log.contains("No face classifier")) << log.toStdString();
    EXPECT_FALSE(log.contains("Cascade not loaded")) << log.toStdString();
    for (const QString file : {"haarcascades", "haarcascades/haarcascade_frontalface_alt.xml", "lbpcascades",
                               "lbpcascades/lbpcascade_frontalface.xml"}) {
        const QFileInfo installed(prefix.path() + "/data/" + file);
        EXPECT_TRUE(installed.exists()) << file.toStdString();
        EXPECT_FALSE(installed.permission(QFile::WriteGroup) || installed.permission(QFile::WriteOther)) << file.toStdString();
    }
}

} // namespace
