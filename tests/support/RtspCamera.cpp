#include "RtspCamera.h"

#include <QFileInfo>
#include <QTcpServer>

#include <signal.h>

namespace {

const int startGuardMs = 10000;

int freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

} // namespace

QString RtspCamera::program()
{
#ifdef NEROVA_RTSP_CAMERA
    return QFileInfo::exists(NEROVA_RTSP_CAMERA) ? QStringLiteral(NEROVA_RTSP_CAMERA) : QString();
#else
    return QString();
#endif
}

RtspCamera::RtspCamera(const QString &scenePath)
    : m_scene(scenePath)
    , m_port(freePort())
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

RtspCamera::~RtspCamera()
{
    thaw();
    kill();
}

QString RtspCamera::url() const
{
    return QStringLiteral("rtsp://127.0.0.1:%1/live").arg(m_port);
}

bool RtspCamera::start()
{
    if (program().isEmpty() || m_port == 0)
        return false;
    m_process.start(program(), {QString::number(m_port), m_scene});
    if (!m_process.waitForStarted(startGuardMs))
        return false;
    while (!m_process.canReadLine()) {
        if (!m_process.waitForReadyRead(startGuardMs))
            return false;
    }
    return m_process.readLine().trimmed() == "ready";
}

void RtspCamera::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(startGuardMs);
}

void RtspCamera::freeze()
{
    if (isRunning())
        ::kill(static_cast<pid_t>(m_process.processId()), SIGSTOP);
}

void RtspCamera::thaw()
{
    if (isRunning())
        ::kill(static_cast<pid_t>(m_process.processId()), SIGCONT);
}
