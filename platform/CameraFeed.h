#pragma once

#include "CameraCapture.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// One camera on a thread of its own, which alone opens, reads and releases
// it, so that no caller ever waits for a device or a network camera: open()
// and release() hand the request over and return, state() tells how far
// the camera is. A live camera is read all the time on that thread and only
// the newest frame is kept, so a frame handed out is one of now, not one
// queued by the driver or the stream while nobody asked; a still image or a
// video file gives its next frame when one is asked for.
//
// Threads: every member function may be called from any thread.
class CameraFeed
{
public:
    // The name of the feed's thread (and of the threads it starts), as
    // top -H and /proc show it.
    static constexpr const char *threadName = "nerova-camera";

    enum class State { Closed, Opening, Open, Failed };
    enum class Frame { Taken, Gone, Stopped };

    CameraFeed();
    ~CameraFeed();

    CameraFeed(const CameraFeed &) = delete;
    CameraFeed &operator=(const CameraFeed &) = delete;

    // Opens the camera after whatever the thread is doing; a camera already
    // open is released first.
    void open(const CameraInfo &camera);
    void release();
    // An open camera whose device node or file has gone reads as Closed
    // (and is released).
    State state();
    // Waits for a frame taken after the call; Gone when the camera closed
    // or gave none, Stopped once stop is raised.
    Frame takeFrame(cv::Mat &frame, const std::atomic<bool> &stop);
    // At process exit: asks the thread to end and waits for it at most
    // waitMs, touching nothing else.
    void endWithin(int waitMs);

private:
    void run();
    bool hasWork() const;
    void openRequested(std::unique_lock<std::mutex> &lock);
    void releaseCamera(std::unique_lock<std::mutex> &lock);
    void readLive(std::unique_lock<std::mutex> &lock);
    void readOnRequest(std::unique_lock<std::mutex> &lock);
    bool readUnlocked(std::unique_lock<std::mutex> &lock, const std::function<bool()> &read);
    void closeAfterFailedRead(std::unique_lock<std::mutex> &lock);
    void answer(quint64 request, const cv::Mat &frame);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = State::Closed;
    bool m_openPending = false;
    bool m_releasePending = false;
    bool m_quit = false;
    bool m_ended = false;
    CameraInfo m_camera;
    QString m_presence;
    // A frame request: its number, the number last answered, and the answer.
    quint64 m_wanted = 0;
    quint64 m_answered = 0;
    bool m_answerTaken = false;
    cv::Mat m_answer;
    // Used on the feed's thread only.
    CameraCapture m_capture;
    std::thread m_thread;
};
