#pragma once

#include <QString>

#include <opencv2/core.hpp>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

// The two scenes the camera tests show, from the shared test data.
struct CameraScenes
{
    static constexpr const char *missing = "missing ../shared/data/images/astronaut.png or baboon.jpg";
    QString face;  // one face that passes every gate
    QString empty; // no face
    CameraScenes();
    bool found() const { return !face.isEmpty() && !empty.isEmpty(); }
};

// A network camera for the tests on 127.0.0.1: an MJPEG stream over HTTP
// (multipart/x-mixed-replace, as such cameras send it) of JPEG frames made
// from a real image file placed on a 640 x 480 canvas, sent at a set rate.
// It can change the scene, stall at opening (the connection accepted, the
// answer never begun) and stall mid-stream (the connection kept open, no
// more frames), each until told otherwise.
class MjpegCamera
{
public:
    explicit MjpegCamera(int framesPerSecond = 10);
    ~MjpegCamera();

    bool isRunning() const { return m_port > 0; }
    // http://127.0.0.1:PORT/video.mjpg
    QString url() const;

    // False when the image cannot be read.
    bool show(const QString &imagePath);
    // The frame now sent, decoded.
    cv::Mat shown();
    void stallAtOpening(bool stalled);
    void stallFrames(bool stalled);

    // Connections that received their stream's first frame, and frames sent.
    int streamsStarted() const { return m_streamsStarted; }
    int framesSent() const { return m_framesSent; }

private:
    // Waits while the flag holds; false once the camera is going.
    bool waitWhile(const std::atomic<bool> &flag);
    bool sendFrame(void *sink);
    bool pause(int milliseconds);

    const int m_frameMs;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_going = false;
    std::string m_jpeg;
    std::atomic<bool> m_openingStalled{false};
    std::atomic<bool> m_framesStalled{false};
    std::atomic<int> m_streamsStarted{0};
    std::atomic<int> m_framesSent{0};
};
