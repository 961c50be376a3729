#include "TestInstall.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>

#include <cstdlib>
#include <functional>

TestInstall::TestInstall()
{
    m_hadHome = qEnvironmentVariableIsSet("NEROVA_HOME");
    m_previousHome = qgetenv("NEROVA_HOME");
    QDir root(path());
    root.mkpath("conf");
    root.mkpath("log");
    root.mkpath("data");
    root.mkpath("lang");
    qputenv("NEROVA_HOME", path().toLocal8Bit());
}

TestInstall::~TestInstall()
{
    if (m_hadHome)
        qputenv("NEROVA_HOME", m_previousHome);
    else
        qunsetenv("NEROVA_HOME");
}

void TestInstall::writeConfig(const QString &text) const
{
    QFile file(configFile());
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text.toUtf8());
}

void TestInstall::replaceConfig(const QString &text) const
{
    const QString temporary = configFile() + ".new";
    QFile file(temporary);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text.toUtf8());
    file.close();
    std::rename(temporary.toLocal8Bit().constData(), configFile().toLocal8Bit().constData());
}

void TestInstall::removeConfig() const
{
    QFile::remove(configFile());
}

void TestInstall::installTranslation() const
{
    QFile::copy(NEROVA_LNG_FILE, path() + "/lang/zh-CN.lng");
}

QString TestInstall::logText(const QString &fileName) const
{
    return QString::fromUtf8(readFile(logDir() + fileName));
}

QString TestInstall::fileLogGroup(const QString &name)
{
    return QString("[Log]\n"
                   "log4j.rootLogger=TRACE, file\n"
                   "log4j.appender.file=org.apache.log4j.FileAppender\n"
                   "log4j.appender.file.File=%1\n"
                   "log4j.appender.file.layout=org.apache.log4j.PatternLayout\n"
                   "log4j.appender.file.layout.ConversionPattern=\"%p %c - %m%n\"\n")
        .arg(name);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTest::qSleep(5);
    }
    return true;
}
