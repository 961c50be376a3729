#include "MjpegCamera.h"

#include "CascadeFiles.h"
#include "SceneCanvas.h"

#include <QFile>

#include <httplib.h>
#include <opencv2/imgcodecs.hpp>

#include <vector>

namespace {

const char boundary[] = "frame";
const int stallStepMs = 10;

} // namespace

CameraScenes::CameraScenes()
    : face(sharedImage("astronaut.png"))
    , empty(sharedImage("baboon.jpg"))
{
}

MjpegCamera::MjpegCamera(int framesPerSecond)
    : m_frameMs(1000 / std::max(1, framesPerSecond))
    , m_server(std::make_unique<httplib::Server>())
{
    m_server->Get("/video.mjpg", [this](const httplib::Request &, httplib::Response &response) {
        if (!waitWhile(m_openingStalled))
            return;
        response.set_content_provider(std::string("multipart/x-mixed-replace;boundary=") + boundary,
                                      [this, first = true](size_t, httplib::DataSink &sink) mutable {
                                          if (!waitWhile(m_framesStalled))
                                              return false;
                                          if (!sendFrame(&sink))
                                              return false;
                                          if (first)
                                              ++m_streamsStarted;
                                          first = false;
                                          return pause(m_frameMs);
                                      });
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        return;
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

MjpegCamera::~MjpegCamera()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_going = true;
    }
    m_changed.notify_all();
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

QString MjpegCamera::url() const
{
    return QString("http://127.0.0.1:%1/video.mjpg").arg(m_port);
}

bool MjpegCamera::show(const QString &imagePath)
{
    const cv::Mat image = cv::imread(QFile::encodeName(imagePath).toStdString(), cv::IMREAD_COLOR);
    if (image.empty())
        return false;
    std::vector<uchar> jpeg;
    if (!cv::imencode(".jpg", onCanvas(image, cv::Size(640, 480)), jpeg))
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_jpeg.assign(jpeg.begin(), jpeg.end());
    return true;
}

cv::Mat MjpegCamera::shown()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return cv::imdecode(std::vector<uchar>(m_jpeg.begin(), m_jpeg.end()), cv::IMREAD_COLOR);
}

void MjpegCamera::stallAtOpening(bool stalled)
{
    m_openingStalled = stalled;
    m_changed.notify_all();
}

void MjpegCamera::stallFrames(bool stalled)
{
    m_framesStalled = stalled;
    m_changed.notify_all();
}

bool MjpegCamera::waitWhile(const std::atomic<bool> &flag)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (flag && !m_going)
        m_changed.wait_for(lock, std::chrono::milliseconds(stallStepMs));
    return !m_going;
}

bool MjpegCamera::sendFrame(void *sink)
{
    std::string part;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        part = std::string("--") + boundary + "\r\nContent-Type: image/jpeg\r\nContent-Length: "
            + std::to_string(m_jpeg.size()) + "\r\n\r\n" + m_jpeg + "\r\n";
    }
    auto &dataSink = *static_cast<httplib::DataSink *>(sink);
    if (!dataSink.write(part.data(), part.size()))
        return false;
    ++m_framesSent;
    return true;
}

bool MjpegCamera::pause(int milliseconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_going; });
}
