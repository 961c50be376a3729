// An integrator's view of the installation: a tiny host that includes only
// glib.h and nerova.h builds against it through find_package(nerova) and
// through pkg-config alone, and runs its GLib loop until the library's
// session callback comes.
#include "InstalledCopy.h"

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct Outcome
{
    int exitCode = -1;
    QString output;
};

Outcome run(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(180000))
        return Outcome{-1, "did not finish: " + program};
    return Outcome{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                   QString::fromLocal8Bit(process.readAll())};
}

class PackageConsumerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(prefix.isValid()) << prefix.installOutput().toStdString();
        ASSERT_TRUE(work.isValid());
        environment.remove("NEROVA_HOME");
    }

    // The installation's shipped configuration names no store server: the
    // login fails on the network, which the host hears from its own loop.
    void expectHostRuns(const QString &program) const
    {
        QProcessEnvironment hostEnvironment = environment;
        hostEnvironment.insert("NEROVA_HOME", prefix.path());
        hostEnvironment.insert("ASAN_OPTIONS", InstalledCopy::asanOptions());
        const Outcome host = run(program, {}, hostEnvironment);
        EXPECT_EQ(host.exitCode, 0) << host.output.toStdString();
        EXPECT_TRUE(host.output.startsWith(expected)) << host.output.toStdString();
        EXPECT_TRUE(host.output.contains("\nsession 6207\n")) << host.output.toStdString();
    }

    const InstalledCopy prefix;
    QTemporaryDir work;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString sanitizeFlags = NEROVA_SANITIZE_FLAGS;
    const QString expected = "nerova " + QString(NEROVA_VERSION) + "\n";
};

TEST_F(PackageConsumerTest, TinyHostBuildsWithFindPackage)
{
    const QString build = work.path() + "/build";
    const Outcome configure = run(NEROVA_CMAKE_COMMAND,
                                  {"-S", NEROVA_TINY_HOST_DIR, "-B", build, "-DCMAKE_PREFIX_PATH=" + prefix.path(),
                                   "-DCMAKE_C_FLAGS=" + sanitizeFlags, "-DCMAKE_EXE_LINKER_FLAGS=" + sanitizeFlags},
                                  environment);
    ASSERT_EQ(configure.exitCode, 0) << configure.output.toStdString();
    const Outcome compile = run(NEROVA_CMAKE_COMMAND, {"--build", build}, environment);
    ASSERT_EQ(compile.exitCode, 0) << compile.output.toStdString();
    expectHostRuns(build + "/tiny_host");
}

TEST_F(PackageConsumerTest, TinyHostBuildsWithPkgConfig)
{
    environment.insert("PKG_CONFIG_PATH", prefix.path() + "/lib/pkgconfig");
    const QString program = work.path() + "/tiny_host";
    const Outcome compile = run("sh", {"-c", QString("cc %1 '%2/host.c' -o '%3' $(pkg-config --cflags --libs nerova)")
                                                 .arg(sanitizeFlags, NEROVA_TINY_HOST_DIR, program)},
                                environment);
    ASSERT_EQ(compile.exitCode, 0) << compile.output.toStdString();
    const Outcome version = run("pkg-config", {"--modversion", "nerova"}, environment);
    EXPECT_EQ(version.output, QString(NEROVA_VERSION) + "\n");
    EXPECT_TRUE(run("pkg-config", {"--print-requires", "nerova"}, environment).output.contains("glib-2.0"));
    // The library is found through the run path that pkg-config gave.
    expectHostRuns(program);
}

} // namespace
