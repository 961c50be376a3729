#include "CameraFeed.h"

#include <QFileInfo>

#include <chrono>
#include <cstdlib>

#include <pthread.h>

namespace {

// A frame request looks at the stop flag this often.
const auto stopPoll = std::chrono::milliseconds(10);
// Longer than any single read of the feed's thread may take.
const auto frameDeadline = std::chrono::milliseconds(CameraCapture::readTimeoutMs + 2000);

// The V4L2 back end waits 10 s for a frame of a stalled camera, and reads
// this once, at the first wait; a value the host has set is kept.
void shortenDeviceWait()
{
    static const bool set = [] {
        setenv("OPENCV_VIDEOIO_V4L_SELECT_TIMEOUT", "3", 0);
        return true;
    }();
    (void)set;
}

} // namespace

CameraFeed::CameraFeed()
{
    shortenDeviceWait();
    m_thread = std::thread(&CameraFeed::run, this);
}

// Waits at most for the one blocking call in progress, which ends within
// its time-out.
CameraFeed::~CameraFeed()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CameraFeed::endWithin(int waitMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_quit = true;
    m_changed.notify_all();
    if (!m_changed.wait_for(lock, std::chrono::milliseconds(waitMs), [this] { return m_ended; }))
        return;
    lock.unlock();
    if (m_thread.joinable())
        m_thread.join();
}

void CameraFeed::open(const CameraInfo &camera)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_camera = camera;
        m_openPending = true;
        m_state = State::Opening;
    }
    m_changed.notify_all();
}

void CameraFeed::release()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_openPending = false;
        m_releasePending = true;
        m_state = State::Closed;
        m_presence.clear();
    }
    m_changed.notify_all();
}

CameraFeed::State CameraFeed::state()
{
    QString presence;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_state != State::Open || m_presence.isEmpty())
            return m_state;
        presence = m_presence;
    }
    if (QFileInfo::exists(presence))
        return State::Open;
    release();
    return State::Closed;
}

CameraFeed::Frame CameraFeed::takeFrame(cv::Mat &frame, const std::atomic<bool> &stop)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_state != State::Open) {
        frame.release();
        return Frame::Gone;
    }
    const quint64 request = ++m_wanted;
    m_changed.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + frameDeadline;
    while (m_answered < request) {
        if (stop)
            return Frame::Stopped;
        if (m_state != State::Open || std::chrono::steady_clock::now() >= deadline) {
            frame.release();
            return Frame::Gone;
        }
        m_changed.wait_for(lock, stopPoll);
    }
    if (!m_answerTaken) {
        frame.release();
        return Frame::Gone;
    }
    m_answerTaken = false;
    frame = m_answer;
    m_answer = cv::Mat();
    return Frame::Taken;
}

void CameraFeed::run()
{
    pthread_setname_np(pthread_self(), threadName);
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        m_changed.wait(lock, [this] { return m_quit || hasWork(); });
        if (m_quit)
            break;
        if (m_releasePending)
            releaseCamera(lock);
        else if (m_openPending)
            openRequested(lock);
        else if (m_capture.isLive())
            readLive(lock);
        else
            readOnRequest(lock);
    }
    lock.unlock();
    m_capture.release();
    lock.lock();
    m_ended = true;
    m_changed.notify_all();
}

bool CameraFeed::hasWork() const
{
    if (m_releasePending || m_openPending)
        return true;
    if (m_state != State::Open)
        return false;
    return m_capture.isLive() || m_wanted > m_answered;
}

void CameraFeed::releaseCamera(std::unique_lock<std::mutex> &lock)
{
    m_releasePending = false;
    lock.unlock();
    m_capture.release();
    lock.lock();
    m_answered = m_wanted;
    m_answerTaken = false;
    m_changed.notify_all();
}

void CameraFeed::openRequested(std::unique_lock<std::mutex> &lock)
{
    m_openPending = false;
    const CameraInfo camera = m_camera;
    lock.unlock();
    const bool opened = m_capture.open(camera);
    const QString presence = m_capture.presencePath();
    lock.lock();
    // Released or asked to open another camera while this one opened.
    if (m_releasePending || m_openPending)
        return;
    m_state = opened ? State::Open : State::Failed;
    m_presence = opened ? presence : QString();
    // Requests made before this opening are not answered with its frames.
    m_answered = m_wanted;
    m_changed.notify_all();
}

// Every frame of a live camera is taken, so that none waits in a queue;
// only one taken after a request is converted and handed out.
void CameraFeed::readLive(std::unique_lock<std::mutex> &lock)
{
    if (!readUnlocked(lock, [this] { return m_capture.grab(); }))
        return;
    const quint64 wanted = m_wanted;
    if (wanted == m_answered)
        return;
    cv::Mat frame;
    if (readUnlocked(lock, [&] { return m_capture.retrieve(frame); }))
        answer(wanted, frame);
}

void CameraFeed::readOnRequest(std::unique_lock<std::mutex> &lock)
{
    const quint64 wanted = m_wanted;
    cv::Mat frame;
    if (readUnlocked(lock, [&] { return m_capture.read(frame); }))
        answer(wanted, frame);
}

// One call of the camera, made without the lock. True when it succeeded
// and no release or opening came meanwhile; a failed one closes the camera.
bool CameraFeed::readUnlocked(std::unique_lock<std::mutex> &lock, const std::function<bool()> &read)
{
    lock.unlock();
    const bool succeeded = read();
    lock.lock();
    if (m_releasePending || m_openPending)
        return false;
    if (!succeeded)
        closeAfterFailedRead(lock);
    return succeeded;
}

// A camera that gives no frame has gone: it is released and reads as
// closed until it is opened again.
void CameraFeed::closeAfterFailedRead(std::unique_lock<std::mutex> &lock)
{
    m_state = State::Closed;
    m_presence.clear();
    releaseCamera(lock);
}

void CameraFeed::answer(quint64 request, const cv::Mat &frame)
{
    m_answer = frame;
    m_answerTaken = true;
    m_answered = request;
    m_changed.notify_all();
}
