#include "CameraCapture.h"

#include <QFile>
#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>

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
    if (!camera.isVirtual) {
        m_presence = source;
        return m_video.open(localPath(source), cv::CAP_V4L2);
    }
    if (isStream(source))
        return m_video.open(source.toStdString(), cv::CAP_FFMPEG);
    if (!QFileInfo(source).isFile())
        return false;
    m_presence = source;
    if (cv::haveImageReader(localPath(source)))
        return openStill(source);
    return m_video.open(localPath(source), cv::CAP_FFMPEG);
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

void CameraCapture::release()
{
    m_video.release();
    m_presence.clear();
    m_stillPath.clear();
    m_still.release();
    m_stillStamp = FileStamp();
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
