#include "NerovaFace.h"

#include "DebugPictures.h"
#include "DecoderLog.h"
#include "FaceDetection.h"
#include "NerovaBase.h"
#include "TimerPeriod.h"
#include "nerova.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <exception>
#include <set>

namespace {

const int closedCameraWaitMs = 100;
const int noFaceWaitMs = 500;
// Waits look at the stop request this often.
const int waitStepMs = 10;
// A token request that fails at once is not repeated sooner than this.
const int tokenRetryMs = 1000;

// The decoder's lines; the log makes them safe like every line.
void logDecoderLine(DecoderLog::Level level, const QString &line)
{
    const NerovaBase *base = NerovaBase::instance();
    if (!base)
        return;
    const QString text = QStringLiteral("Decoder: %1").arg(line);
    if (level == DecoderLog::Level::Error)
        base->logError(text);
    else
        base->logTrace(text);
}

} // namespace

NerovaFace::DecoderLogAttachment::DecoderLogAttachment()
{
    DecoderLog::attach(logDecoderLine);
}

NerovaFace::DecoderLogAttachment::~DecoderLogAttachment()
{
    DecoderLog::detach();
}

// A host may leave without ending the library. The loops still running then
// are ended before the process takes down what they use: this registry is
// made after the global thread pool (and the logging), so it goes first.
class NerovaFace::RunningWorkers
{
public:
    static RunningWorkers &instance()
    {
        QThreadPool::globalInstance();
        // OpenCV's image encoders are made on first use: made now, they
        // outlive the registry, so a loop ended at exit can still write
        // its picture.
        FaceDetection::encodePng(cv::Mat(1, 1, CV_8UC3, cv::Scalar::all(0)));
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
    m_clock.start();
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
}

void NerovaFace::LoadClassifiers()
{
    const QString failures = m_cascades.load(m_base.applicationDir());
    for (const QString &refusal : m_cascades.refusals())
        m_base.logProblem(QStringLiteral("Cascade not loaded: %1").arg(refusal));
    if (!failures.isEmpty())
        m_base.logError(tr("Failed to load classifier: %1").arg(failures));
}

void NerovaFace::reportUnscoredFeatures()
{
    const auto config = m_base.config();
    const QString unscored = m_cycle.unscoredFeatures(cycleSettings(*config));
    if (config->faceEnabled && !unscored.isEmpty())
        m_base.logError(unscored);
}

// The first device check runs from the event loop, right after the host's
// call has returned: the host may end the library from inside its callback.
// A loop still ending after a stop (in a detection, a request or a wait) is
// not waited for: it sees the stop cleared and goes on as this start's run,
// or, if it has ended meanwhile, the device check starts the next run once
// the camera is open.
void NerovaFace::Start()
{
    if (!m_loop.isFinished() && !m_stopRequested)
        return;
    reportUnscoredFeatures();
    reportUnverifiedCloud();
    m_stopRequested = false;
    ++m_starts;
    m_checkTimer->start(m_base.config()->deviceCheckPeriodMs());
    if (m_loop.isFinished()) {
        m_loopRunning = false;
        startLoop();
    }
    QMetaObject::invokeMethod(this, &NerovaFace::TriggerCheckDevice, Qt::QueuedConnection);
}

// Said at every start while it holds: the face pictures and the client
// secret then go to whoever answers for the cloud.
void NerovaFace::reportUnverifiedCloud() const
{
    if (!m_base.config()->cloudTlsVerify)
        m_base.logError(QStringLiteral("Baidu/TlsVerify is false: the cloud face service's certificate is not "
                                       "verified, so any server in the middle gets the face pictures and the client "
                                       "secret"));
}

void NerovaFace::Stop()
{
    m_checkTimer->stop();
    m_stopRequested = true;
    m_feed.release();
}

void NerovaFace::EndLoopForExit(int waitMs)
{
    m_stopRequested = true;
    m_pool.waitForDone(waitMs);
    m_feed.endWithin(waitMs);
    // A feed still stuck in the decoder may log after the logging has gone.
    DecoderLog::silence();
}

// Every host callback here is the last thing the check does.
void NerovaFace::TriggerCheckDevice()
{
    const auto config = m_base.config();
    if (!config->faceEnabled || m_stopRequested)
        return;
    const CameraFeed::State state = m_feed.state();
    if (state == CameraFeed::State::Open) {
        m_openFailureTold = false;
        if (m_loop.isFinished())
            startLoop();
        m_base.notifyCallback(NV_NOTIFY_CAMERA_READY, QString());
        return;
    }
    // The outcome of an opening in progress is told at a later check.
    if (state == CameraFeed::State::Opening)
        return;
    // A camera that has just failed to open is tried again, and reported
    // missing like one that is not there.
    if (state == CameraFeed::State::Failed)
        tellOpenFailure();
    if (openConfiguredCamera(*config) && state != CameraFeed::State::Failed)
        return;
    m_base.logTrace(tr("No face device") + config->faceDevice);
    m_base.notifyCallback(NV_NOTIFY_CAMERA_MISSING, QString());
}

// A listed camera that does not open (a network camera powered but stuck,
// a wrong stream address) looks like a missing one in 6202: the installer
// hears once, on stderr and in the log, which one it is and what to check.
void NerovaFace::tellOpenFailure()
{
    if (m_openFailureTold)
        return;
    m_openFailureTold = true;
    const QString text = QStringLiteral("Camera %1 (%2) did not open (a stream gets %3 s to send a picture). Check "
                                        "that it is powered and connected and that its device, file or address "
                                        "is right.")
                             .arg(m_requestedCamera.description, m_requestedCamera.captureTarget,
                                  QString::number(CameraCapture::openTimeoutMs / 1000));
    m_base.logProblem(text);
}

bool NerovaFace::openConfiguredCamera(const NerovaConfig &config)
{
    const QList<CameraInfo> cameras = CameraList::available();
    for (const CameraInfo &camera : cameras) {
        if (!camera.deviceName.contains(config.faceDevice))
            continue;
        m_base.logTrace(QStringLiteral("Camera: %1, %2, %3")
                            .arg(camera.deviceName, camera.description, QString::number(camera.position)));
        m_requestedCamera = camera;
        m_feed.open(camera);
        return true;
    }
    return false;
}

void NerovaFace::startLoop()
{
    joinLoop();
    m_loop = QtConcurrent::run(&m_pool, this, &NerovaFace::StartFace);
}

// The loop catches what it throws, so a join never rethrows; this guard
// is for a future that holds an exception all the same.
void NerovaFace::joinLoop()
{
    try {
        m_loop.waitForFinished();
    } catch (...) {
        m_base.logError(QStringLiteral("StartFace ended with an exception"));
    }
}

void NerovaFace::StartFace()
{
    m_loopRunning = true;
    m_visit.reset();
    m_gate.reset();
    unsigned run = m_starts;
    while (!m_stopRequested) {
        // A face seen before a stop and start is not told gone after it.
        if (m_starts != run) {
            run = m_starts;
            m_visit.reset();
            m_gate.reset();
        }
        if (!runPassContained()) {
            m_loopRunning = false;
            return;
        }
    }
    m_base.logInfo(QStringLiteral("StartFace Exit"));
    m_loopRunning = false;
}

// What a pass throws (OpenCV, memory, or a C++ host throwing from its face
// callback) is logged, and the loop goes on after its interval.
bool NerovaFace::runPassContained()
{
    QString what;
    try {
        return runPass();
    } catch (const std::exception &error) {
        what = QString::fromLocal8Bit(error.what());
    } catch (...) {
        what = QStringLiteral("unknown exception");
    }
    try {
        const QString line = QStringLiteral("Face loop: %1; the loop goes on").arg(what);
        m_base.logProblem(line);
        waitFaceInterval();
    } catch (...) {
    }
    return true;
}

// False when the loop ends without a stop: the camera gave no frame.
bool NerovaFace::runPass()
{
    reportCountsWhenDue();
    if (m_feed.state() != CameraFeed::State::Open) {
        wait(closedCameraWaitMs, false);
        return true;
    }
    if (!m_cloud.hasToken()) {
        requestToken();
        return true;
    }
    cv::Mat frame;
    switch (m_feed.takeFrame(frame, m_stopRequested)) {
    case CameraFeed::Frame::Stopped:
        return true;
    case CameraFeed::Frame::Gone:
        if (m_stopRequested)
            return true;
        // The feed has released the camera; the device check opens it
        // again once it is back.
        m_base.logError(QStringLiteral("Failed to capture image"));
        return false;
    case CameraFeed::Frame::Taken:
        break;
    }
    runCycle(frame);
    return true;
}

void NerovaFace::requestToken()
{
    QElapsedTimer attempt;
    attempt.start();
    m_cloud.RequestToken();
    if (!m_cloud.hasToken())
        wait(static_cast<int>(std::max<qint64>(0, tokenRetryMs - attempt.elapsed())), true);
}

void NerovaFace::runCycle(const cv::Mat &frame)
{
    const auto config = m_base.config();
    const VisitTracker::Rules rules = visitRules(*config);
    const qint64 now = m_clock.elapsed();
    if (!needsFullCycle(frame, *config, now)) {
        ++m_counts.cyclesSkipped;
        cycleWithoutFace(frame, rules, false);
        return;
    }
    ++m_counts.cyclesRun;
    const FaceCycleResult result = m_cycle.run(frame, cycleSettings(*config));
    m_gate.fullCycleDone(result.faceFound, now);
    if (!result.faceFound) {
        cycleWithoutFace(frame, rules, config->debugMode);
        return;
    }
    ++m_counts.facesSeen;
    m_base.logTrace(QStringLiteral("Face detected"));
    if (result.passed)
        identify(result, rules, now);
    else if (m_visit.failingFace(result.face, now, rules) == VisitTracker::Step::TellGone)
        announceFaceGone();
    m_base.logTrace(QStringLiteral("Face result: %1").arg(result.detail));
    waitFaceInterval();
}

// The motion gate is off in debug mode, where every cycle leaves its
// picture or its detail text.
bool NerovaFace::needsFullCycle(const cv::Mat &frame, const NerovaConfig &config, qint64 nowMs)
{
    if (!config.motionGate || config.debugMode) {
        m_gate.reset();
        return true;
    }
    return m_gate.needsFullCycle(frame, nowMs, timerPeriodMs(config.motionGatePeriod));
}

void NerovaFace::identify(const FaceCycleResult &result, const VisitTracker::Rules &rules, qint64 nowMs)
{
    const bool arriving = !m_visit.isPresent();
    if (m_visit.passingFace(result.face, nowMs, rules) != VisitTracker::Step::Identify)
        return;
    if (arriving)
        ++m_counts.visits;
    if (m_cloud.SearchFace(result.png.toBase64()) == FaceCloud::Outcome::Reported)
        m_visit.identified();
}

void NerovaFace::cycleWithoutFace(const cv::Mat &frame, const VisitTracker::Rules &rules, bool debugPicture)
{
    wait(noFaceWaitMs, true);
    if (m_visit.noFace(m_clock.elapsed(), rules) == VisitTracker::Step::TellGone)
        announceFaceGone();
    if (debugPicture)
        saveDebugPicture(frame);
    waitFaceInterval();
}

void NerovaFace::reportCountsWhenDue()
{
    const qint64 now = m_clock.elapsed();
    const qint64 periodMs = timerPeriodMs(m_base.config()->statsInterval, 1000);
    if (now - m_countsSinceMs < periodMs)
        return;
    DecoderLog::flush();
    m_counts.add(m_cloud.takeCounts());
    m_base.logInfo(m_counts.summary((now - m_countsSinceMs + 500) / 1000));
    m_counts = FaceWorkerCounts();
    m_countsSinceMs = now;
}

void NerovaFace::saveDebugPicture(const cv::Mat &frame)
{
    const auto config = m_base.config();
    const DebugPictures::Saved saved =
        DebugPictures::save(m_base.paths().debugDir, true, DebugPictures::Naming::Library,
                            QDateTime::currentMSecsSinceEpoch(), FaceDetection::encodePng(frame),
                            DebugPictures::limits(config->debugKeepFiles, config->debugKeepMB));
    for (const QString &problem : saved.problems)
        m_base.logProblem(QStringLiteral("Debug picture: %1").arg(problem));
    QString line = tr("No face detected");
    if (!saved.filePath.isEmpty())
        line += QStringLiteral(": ") + saved.filePath;
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

VisitTracker::Rules NerovaFace::visitRules(const NerovaConfig &config)
{
    VisitTracker::Rules rules;
    rules.oncePerVisit = config.oncePerVisit;
    rules.visitGapMs = timerPeriodMs(config.visitGap);
    return rules;
}
