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
// Not thread-safe: one thread uses it at a time.
class CameraCapture
{
public:
    bool open(const CameraInfo &camera);
    bool isOpened() const;
    // False, with an empty frame, when no frame came.
    bool read(cv::Mat &frame);
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

    cv::VideoCapture m_video;
    // The device node or file that must exist for the camera to be there.
    QString m_presence;
    QString m_stillPath;
    cv::Mat m_still;
    FileStamp m_stillStamp;
};
