#include "CameraCapture.h"

#include "DecoderLog.h"

#include <QFile>
#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>

#include <vector>

namespace {

std::string localPath(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

bool isStream(const QString &source)
{
    return source.contains(QLatin1String("://"));
}

} // namespace

bool CameraCapture::open(const CameraInfo &camera)
{
    release();
    const QString &source = camera.captureTarget;
    if (!camera.isVirtual)
        return openDevice(source);
    if (isStream(source))
        return openStream(source);
    if (!QFileInfo(source).isFile())
        return false;
    m_presence = source;
    if (cv::haveImageReader(localPath(source)))
        return openStill(source);
    const bool opened = m_video.open(localPath(source), cv::CAP_FFMPEG);
    DecoderLog::reclaim();
    return opened;
}

bool CameraCapture::isOpened() const
{
    if (!m_presence.isEmpty() && !QFileInfo::exists(m_presence))
        return false;
    return !m_stillPath.isEmpty() || m_video.isOpened();
}

bool CameraCapture::read(cv::Mat &frame)
{
    if (!m_stillPath.isEmpty())
        return readStill(frame);
    if (!m_video.isOpened() || !m_video.read(frame)) {
        frame.release();
        return false;
    }
    return !frame.empty();
}

bool CameraCapture::grab()
{
    return m_video.isOpened() && m_video.grab();
}

bool CameraCapture::retrieve(cv::Mat &frame)
{
    if (!m_video.retrieve(frame)) {
        frame.release();
        return false;
    }
    return !frame.empty();
}

void CameraCapture::release()
{
    m_live = false;
    m_video.release();
    m_presence.clear();
    m_stillPath.clear();
    m_still.release();
    m_stillStamp = FileStamp();
}

// A short driver queue: frames queued during a wait are not the scene of
// now. A driver that refuses the size (OpenCV then restarts its stream) is
// opened again with its own; the feed's reader drains the queue anyway.
bool CameraCapture::openDevice(const QString &node)
{
    m_presence = node;
    if (!m_video.open(localPath(node), cv::CAP_V4L2))
        return false;
    if (!m_video.set(cv::CAP_PROP_BUFFERSIZE, 1)) {
        m_video.release();
        if (!m_video.open(localPath(node), cv::CAP_V4L2))
            return false;
    }
    m_live = true;
    return true;
}

// FFmpeg's own time-outs are 30 s for opening and for every read.
bool CameraCapture::openStream(const QString &url)
{
    const std::vector<int> timeouts{cv::CAP_PROP_OPEN_TIMEOUT_MSEC, openTimeoutMs, cv::CAP_PROP_READ_TIMEOUT_MSEC,
                                    readTimeoutMs};
    m_live = m_video.open(url.toStdString(), cv::CAP_FFMPEG, timeouts);
    DecoderLog::reclaim();
    return m_live;
}

CameraCapture::FileStamp CameraCapture::stampOf(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return FileStamp();
    return FileStamp{info.lastModified(), info.size()};
}

bool CameraCapture::openStill(const QString &path)
{
    const FileStamp stamp = stampOf(path);
    cv::Mat image = cv::imread(localPath(path), cv::IMREAD_COLOR);
    if (image.empty())
        return false;
    m_stillPath = path;
    m_still = image;
    m_stillStamp = stamp;
    return true;
}

// A changed file is read again; one that cannot be decoded yet (still
// being written) leaves the previous frame in place until the next read.
bool CameraCapture::readStill(cv::Mat &frame)
{
    const FileStamp stamp = stampOf(m_stillPath);
    if (stamp.size < 0) {
        frame.release();
        return false;
    }
    if (!(stamp == m_stillStamp)) {
        cv::Mat image = cv::imread(localPath(m_stillPath), cv::IMREAD_COLOR);
        if (!image.empty()) {
            m_still = image;
            m_stillStamp = stamp;
        }
    }
    m_still.copyTo(frame);
    return true;
}
