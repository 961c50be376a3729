#pragma once

#include <QString>
#include <QTemporaryDir>

// A complete installation laid out by the build's install step in a
// temporary directory, as an integrator or an installer gets it.
class InstalledCopy
{
public:
    InstalledCopy();

    // False when the install step failed; installOutput() says why.
    bool isValid() const { return m_installed; }
    QString path() const { return m_prefix.path(); }
    QString installOutput() const { return m_output; }

    // ASAN_OPTIONS for a host that runs the shipped configuration: liblog4cxx
    // 1.0 itself frees its RollingFileAppender's private part with the wrong
    // size, which AddressSanitizer would stop at.
    static QString asanOptions();

private:
    QTemporaryDir m_prefix;
    bool m_installed = false;
    QString m_output;
};
