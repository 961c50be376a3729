#pragma once

#include <QProcess>
#include <QString>

// A real RTSP camera for the tests: GStreamer's RTSP server in a process of
// its own (tests/support/rtsp_camera.c), sending a PNG scene as H.264 at
// 640 x 480 and 10 frames a second on 127.0.0.1. It can be taken away and
// started again on the same port, and frozen (stopped with SIGSTOP: the
// kernel still accepts connections, nothing answers) and thawed.
class RtspCamera
{
public:
    // Empty when the server program was not built.
    static QString program();

    // Serves scenePath (a PNG file the test may replace at any time).
    explicit RtspCamera(const QString &scenePath);
    ~RtspCamera();

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    QString url() const;

    bool start();
    void kill();
    void freeze();
    void thaw();

private:
    QString m_scene;
    int m_port = 0;
    QProcess m_process;
};
