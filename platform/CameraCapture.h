#pragma once

#include "CameraList.h"

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <QDateTime>

// Frames from one camera of the list: a real camera through its V4L2 node,
// a virtual one from its still image (the same frame for ever, read again
// when the file changes), video file or stream. A camera that has gone (a
// device unplugged, an image file removed, a stream that ended) reads no
// frame, no longer counts as open, and fails to open until it is back.
//
// A live camera (a V4L2 node or a stream) keeps producing frames whether
// they are read or not; its opening and every read end within a few
// seconds even when the device or the network camera sends nothing.
//
// Not thread-safe: one thread uses it at a time.
class CameraCapture
{
public:
    // A live source that gives no frame for this long counts as gone.
    static constexpr int openTimeoutMs = 3000;
    static constexpr int readTimeoutMs = 3000;

    bool open(const CameraInfo &camera);
    bool isOpened() const;
    bool isLive() const { return m_live; }
    // The device node or file that must exist for the camera to be there
    // (empty for a stream).
    const QString &presencePath() const { return m_presence; }
    // False, with an empty frame, when no frame came.
    bool read(cv::Mat &frame);
    // A live source: takes the next frame from the device or stream without
    // converting it; retrieve() converts the last one taken.
    bool grab();
    bool retrieve(cv::Mat &frame);
    void release();

private:
    struct FileStamp
    {
        QDateTime modified;
        qint64 size = -1;
        bool operator==(const FileStamp &other) const { return modified == other.modified && size == other.size; }
    };
    static FileStamp stampOf(const QString &path);
    bool openStill(const QString &path);
    bool readStill(cv::Mat &frame);
    bool openDevice(const QString &node);
    bool openStream(const QString &url);

    cv::VideoCapture m_video;
    // The device node or file that must exist for the camera to be there.
    QString m_presence;
    QString m_stillPath;
    cv::Mat m_still;
    FileStamp m_stillStamp;
    bool m_live = false;
};
