// A complete installation laid out by the install step runs as it is: its
// example host finds the library beside itself, and the library works in
// the host's directory and logs where the example configuration says.
#include "HostProcess.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(InstallationTest, InstalledCHostRunsTheInstalledLibrary)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(NEROVA_CMAKE_COMMAND, {"--install", NEROVA_BUILD_DIR, "--prefix", prefix.path()});
    ASSERT_TRUE(install.waitForFinished(120000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAll().toStdString();

    // liblog4cxx 1.0 itself frees its RollingFileAppender's private part
    // with the wrong size (the example configuration uses that appender);
    // AddressSanitizer would stop the host at the first reconfiguration.
    const QString asanOptions = qEnvironmentVariable("ASAN_OPTIONS") + ":new_delete_type_mismatch=0";
    HostProcess host(HostProcess::Kind::C, {"-NEROVA_HOME", "ASAN_OPTIONS=" + asanOptions},
                     prefix.path() + "/nerova_c_host");
    ASSERT_TRUE(host.isLoaded());
    EXPECT_EQ(host.run("init"), 0);
    EXPECT_EQ(host.run("uninit"), 0);
    ASSERT_TRUE(host.finish());
    EXPECT_TRUE(host.exitedCleanly()) << host.errorOutput().toStdString();
    EXPECT_EQ(host.lines("cmd", "load").value(0).value("path").toString(), prefix.path() + "/libnerova.so");

    const QString log = fileText(prefix.path() + "/log/nerova.log");
    const int initialised = log.indexOf("Init success");
    ASSERT_GE(initialised, 0) << log.toStdString();
    EXPECT_GT(log.indexOf("WindowsVersion: ", initialised), initialised);
    EXPECT_TRUE(QFile::exists(prefix.path() + "/include/nerova.h"));
}

} // namespace
