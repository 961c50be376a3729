#pragma once

#include "TestInstall.h"

#include <QDir>
#include <QStringList>

#include <gtest/gtest.h>

#include <log4cxx/logmanager.h>

#include <ostream>

// Failing comparisons of texts print the texts.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// A temporary installation per test. log4cxx is one configuration per
// process, so each test starts and ends without appenders; the worker base
// moves the current directory into the installation, which is put back.
class BaseFixture : public ::testing::Test
{
protected:
    BaseFixture() : m_previousDir(QDir::currentPath()) { log4cxx::LogManager::resetConfiguration(); }
    ~BaseFixture() override
    {
        log4cxx::LogManager::resetConfiguration();
        QDir::setCurrent(m_previousDir);
    }

    // The messages of a log file written with TestInstall::fileLogGroup's
    // layout ("%p %c - %m%n"), one per line.
    QStringList logLines(const QString &fileName = "nerova.log") const
    {
        QStringList lines = install.logText(fileName).split('\n', Qt::SkipEmptyParts);
        for (QString &line : lines)
            line = line.mid(line.indexOf(" - ") + 3);
        return lines;
    }

    TestInstall install;

private:
    QString m_previousDir;
};
