#pragma once

#include <QString>

#include <functional>
#include <QTemporaryDir>

// A temporary installation directory (conf/, log/, data/) that the library
// uses through NEROVA_HOME for as long as the object lives.
class TestInstall
{
public:
    TestInstall();
    ~TestInstall();

    QString path() const { return m_dir.path(); }
    QString configFile() const { return path() + "/conf/default.ini"; }
    QString logDir() const { return path() + "/log/"; }

    // Writes conf/default.ini in place.
    void writeConfig(const QString &text) const;
    // Replaces conf/default.ini the way editors do: a temporary file renamed over it.
    void replaceConfig(const QString &text) const;
    void removeConfig() const;
    // Copies the compiled translation into lang/.
    void installTranslation() const;
    // The text of a file under log/ (empty when it does not exist).
    QString logText(const QString &fileName) const;

    // A Log group that sends every line at TRACE and above to log/<name>.log.
    static QString fileLogGroup(const QString &name = "nerova");

private:
    QTemporaryDir m_dir;
    QByteArray m_previousHome;
    bool m_hadHome = false;
};

// The bytes of a file (empty when it cannot be read).
QByteArray readFile(const QString &path);

// Runs the Qt event loop until the condition holds or the time is up.
bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 5000);
