#include "NerovaFace.h"

#include "FaceCloud.h"
#include "FaceDetection.h"
#include "NerovaBase.h"
#include "TimerPeriod.h"
#include "nerova.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <set>

namespace {

const int closedCameraWaitMs = 100;
const int noFaceWaitMs = 500;
// Waits look at the stop request this often.
const int waitStepMs = 10;
// A token request that fails at once is not repeated sooner than this.
const int tokenRetryMs = 1000;

} // namespace

// A host may leave without ending the library. The loops still running then
// are ended before the process takes down what they use: this registry is
// made after the global thread pool (and the logging), so it goes first.
class NerovaFace::RunningWorkers
{
public:
    static RunningWorkers &instance()
    {
        QThreadPool::globalInstance();
        static RunningWorkers workers;
        return workers;
    }
    void add(NerovaFace *face)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_faces.insert(face);
    }
    void remove(NerovaFace *face)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_faces.erase(face);
    }
    ~RunningWorkers()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (NerovaFace *face : m_faces) {
            face->m_stopRequested = true;
            face->joinLoop();
        }
    }

private:
    std::mutex m_mutex;
    std::set<NerovaFace *> m_faces;
};

NerovaFace::NerovaFace(QObject *parent)
    : QObject(parent)
    , m_base(*NerovaBase::instance())
{
    RunningWorkers::instance().add(this);
    LoadClassifiers();
    m_checkTimer = new QTimer(this);
    connect(m_checkTimer, SIGNAL(timeout()), this, SLOT(TriggerCheckDevice()));
}

NerovaFace::~NerovaFace()
{
    m_checkTimer->stop();
    m_stopRequested = true;
    joinLoop();
    RunningWorkers::instance().remove(this);
    std::lock_guard<std::mutex> lock(m_cameraMutex);
    m_capture.release();
}

void NerovaFace::LoadClassifiers()
{
    const QString failures = m_cascades.load(m_base.applicationDir());
    if (!failures.isEmpty())
        m_base.logError(tr("Failed to load classifier: %1").arg(failures));
}

// The first device check runs from the event loop, right after the host's
// call has returned: the host may end the library from inside its callback.
void NerovaFace::Start()
{
    if (!m_loop.isFinished() && !m_stopRequested)
        return;
    joinLoop();
    m_stopRequested = false;
    m_loopRunning = false;
    m_checkTimer->start(m_base.config()->deviceCheckPeriodMs());
    startLoop();
    QMetaObject::invokeMethod(this, &NerovaFace::TriggerCheckDevice, Qt::QueuedConnection);
}

void NerovaFace::Stop()
{
    m_checkTimer->stop();
    m_stopRequested = true;
    std::lock_guard<std::mutex> lock(m_cameraMutex);
    m_capture.release();
}

void NerovaFace::EndLoopForExit(int waitMs)
{
    m_stopRequested = true;
    m_pool.waitForDone(waitMs);
}

// Every host callback here is the last thing the check does.
void NerovaFace::TriggerCheckDevice()
{
    const auto config = m_base.config();
    if (!config->faceEnabled || m_stopRequested)
        return;
    if (captureIsOpen()) {
        if (m_loop.isFinished())
            startLoop();
        m_base.notifyCallback(NV_NOTIFY_CAMERA_READY, QString());
        return;
    }
    if (openConfiguredCamera(*config))
        return;
    m_base.logTrace(tr("No face device") + config->faceDevice);
    m_base.notifyCallback(NV_NOTIFY_CAMERA_MISSING, QString());
}

bool NerovaFace::openConfiguredCamera(const NerovaConfig &config)
{
    const QList<CameraInfo> cameras = CameraList::available();
    for (const CameraInfo &camera : cameras) {
        if (!camera.deviceName.contains(config.faceDevice))
            continue;
        m_base.logTrace(QStringLiteral("Camera: %1, %2, %3").arg(camera.deviceName, camera.description).arg(camera.position));
        std::lock_guard<std::mutex> lock(m_cameraMutex);
        return m_capture.open(camera);
    }
    return false;
}

bool NerovaFace::captureIsOpen()
{
    std::lock_guard<std::mutex> lock(m_cameraMutex);
    return m_capture.isOpened();
}

void NerovaFace::startLoop()
{
    joinLoop();
    m_loop = QtConcurrent::run(&m_pool, this, &NerovaFace::StartFace);
}

void NerovaFace::joinLoop()
{
    m_loop.waitForFinished();
}

void NerovaFace::StartFace()
{
    m_loopRunning = true;
    bool facePresent = false;
    // The chain lives and dies on this thread.
    FaceCloud cloud(m_stopRequested);
    while (!m_stopRequested) {
        if (!captureIsOpen()) {
            wait(closedCameraWaitMs, false);
            continue;
        }
        if (!cloud.hasToken()) {
            requestToken(cloud);
            continue;
        }
        cv::Mat frame;
        if (!readFrame(frame)) {
            if (m_stopRequested)
                continue;
            m_base.logError(QStringLiteral("Failed to capture image"));
            m_loopRunning = false;
            return;
        }
        runCycle(cloud, frame, facePresent);
    }
    m_base.logInfo(QStringLiteral("StartFace Exit"));
    m_loopRunning = false;
}

void NerovaFace::requestToken(FaceCloud &cloud)
{
    QElapsedTimer attempt;
    attempt.start();
    cloud.RequestToken();
    if (!cloud.hasToken())
        wait(static_cast<int>(std::max<qint64>(0, tokenRetryMs - attempt.elapsed())), true);
}

// A camera that gives no frame is released; the device check opens it
// again once it is back. One that Stop() has just released is not read.
bool NerovaFace::readFrame(cv::Mat &frame)
{
    std::lock_guard<std::mutex> lock(m_cameraMutex);
    if (!m_capture.isOpened())
        return false;
    if (m_capture.read(frame))
        return true;
    m_capture.release();
    return false;
}

void NerovaFace::runCycle(FaceCloud &cloud, const cv::Mat &frame, bool &facePresent)
{
    const auto config = m_base.config();
    const FaceCycleResult result = m_cycle.run(frame, cycleSettings(*config));
    if (!result.faceFound) {
        cycleWithoutFace(frame, facePresent);
        return;
    }
    m_base.logTrace(QStringLiteral("Face detected"));
    if (result.passed) {
        facePresent = true;
        cloud.SearchFace(result.png.toBase64());
    } else if (facePresent) {
        facePresent = false;
        announceFaceGone();
    }
    m_base.logTrace(QStringLiteral("Face result: %1").arg(result.detail));
    waitFaceInterval();
}

void NerovaFace::cycleWithoutFace(const cv::Mat &frame, bool &facePresent)
{
    wait(noFaceWaitMs, true);
    if (facePresent) {
        facePresent = false;
        announceFaceGone();
    }
    if (m_base.config()->debugMode)
        saveDebugPicture(frame);
    waitFaceInterval();
}

void NerovaFace::saveDebugPicture(const cv::Mat &frame)
{
    const QString debugDir = m_base.applicationDir() + QStringLiteral("/debug");
    QDir().mkpath(debugDir);
    const QString fileName =
        debugDir + QStringLiteral("/%1_noface.png").arg(QDateTime::currentMSecsSinceEpoch());
    QFile file(fileName);
    QString line = tr("No face detected");
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(FaceDetection::encodePng(frame));
        line += QStringLiteral(": ") + fileName;
    }
    m_base.logTrace(line);
}

// From the loop's thread, like the visitor records of the chain, so that the
// host hears the two in the order they happened.
void NerovaFace::announceFaceGone()
{
    m_base.faceCallback(QString());
}

// Only a wait that a stop ends looks at the stop request in steps; the
// others sleep in one piece, so a loop waiting for its camera wakes ten
// times a second instead of a hundred.
void NerovaFace::wait(int milliseconds, bool endOnStop)
{
    const qint64 stepMs = endOnStop ? waitStepMs : milliseconds;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds && !(endOnStop && m_stopRequested)) {
        QCoreApplication::processEvents();
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(stepMs, milliseconds - timer.elapsed())));
    }
}

// The interval is read at every step, so an edited value changes a wait
// in progress.
void NerovaFace::waitFaceInterval()
{
    QElapsedTimer timer;
    timer.start();
    while (!m_stopRequested && timer.elapsed() < timerPeriodMs(m_base.config()->faceInterval)) {
        QCoreApplication::processEvents();
        QThread::msleep(waitStepMs);
    }
}

FaceCycleSettings NerovaFace::cycleSettings(const NerovaConfig &config)
{
    FaceCycleSettings settings;
    settings.threshold = config.faceThreshold;
    settings.leftEye = config.faceLeftEye;
    settings.rightEye = config.faceRightEye;
    settings.nose = config.faceNose;
    settings.mouth = config.faceMouth;
    settings.blurEnabled = config.faceBlurEnabled;
    settings.blurThreshold = config.faceBlurThreshold;
    settings.brightEnabled = config.faceBrightEnabled;
    settings.brightThreshold = config.faceBrightThreshold;
    settings.debugMode = config.debugMode;
    return settings;
}
