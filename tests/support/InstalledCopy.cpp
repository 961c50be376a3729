#include "InstalledCopy.h"

#include <QProcess>

InstalledCopy::InstalledCopy()
{
    if (!m_prefix.isValid())
        return;
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(NEROVA_CMAKE_COMMAND, {"--install", NEROVA_BUILD_DIR, "--prefix", m_prefix.path()});
    m_installed = install.waitForFinished(180000) && install.exitStatus() == QProcess::NormalExit
        && install.exitCode() == 0;
    m_output = QString::fromLocal8Bit(install.readAll());
}

QString InstalledCopy::asanOptions()
{
    return qEnvironmentVariable("ASAN_OPTIONS") + ":new_delete_type_mismatch=0";
}
