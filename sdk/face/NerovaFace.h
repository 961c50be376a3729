#pragma once

#include "CameraFeed.h"
#include "CascadeSet.h"
#include "FaceCloud.h"
#include "FaceCycle.h"
#include "FaceWorkerCounts.h"
#include "MotionGate.h"
#include "VisitTracker.h"

#include <QElapsedTimer>
#include <QFuture>
#include <QObject>
#include <QThreadPool>

#include <atomic>

class NerovaBase;
class QTimer;
struct NerovaConfig;

// The face worker: finds the configured camera and asks its feed to open
// it (device check on the library's thread), and runs the detection loop
// on a thread of its own pool, which hands passing faces to the
// identification chain.
//
// Threads: Start(), Stop(), the device check and the destructor run on the
// worker's thread; the loop on its pool thread; the camera is opened, read
// and released on the feed's thread alone, so the worker's thread never
// waits for it. The flags are atomic; the loop's future is kept, so a new
// loop never runs beside one that is ending and the worker never goes
// while its loop runs. The identification chain (token and network state)
// is used by the loop only and lives as long as the worker.
class NerovaFace : public QObject
{
    Q_OBJECT
public:
    explicit NerovaFace(QObject *parent = nullptr);
    ~NerovaFace() override;

    void Start();
    void Stop();
    // At process exit: the loop is asked to end and given a moment to do
    // so, touching nothing else (Qt's objects may already be gone).
    void EndLoopForExit(int waitMs);

public slots:
    void TriggerCheckDevice();

private:
    class RunningWorkers;

    void LoadClassifiers();
    void reportUnscoredFeatures();
    void reportUnverifiedCloud() const;
    void StartFace();
    void startLoop();
    void joinLoop();
    bool openConfiguredCamera(const NerovaConfig &config);
    void tellOpenFailure();
    bool runPass();
    bool runPassContained();
    void requestToken();
    void runCycle(const cv::Mat &frame);
    bool needsFullCycle(const cv::Mat &frame, const NerovaConfig &config, qint64 nowMs);
    void identify(const FaceCycleResult &result, const VisitTracker::Rules &rules, qint64 nowMs);
    void cycleWithoutFace(const cv::Mat &frame, const VisitTracker::Rules &rules, bool debugPicture);
    void reportCountsWhenDue();
    void saveDebugPicture(const cv::Mat &frame);
    void announceFaceGone();
    void wait(int milliseconds, bool endOnStop);
    void waitFaceInterval();
    static FaceCycleSettings cycleSettings(const NerovaConfig &config);
    static VisitTracker::Rules visitRules(const NerovaConfig &config);

    // The base of the core that owns this worker; it outlives the worker.
    NerovaBase &m_base;
    CascadeSet m_cascades;
    // Lives as long as the worker: its counters of the face cascades run
    // over the worker's whole life. Used by the loop only.
    FaceCycle m_cycle{m_cascades};
    // The loop's own, across its runs: the face in view, the scene of the
    // last cycle without a face, and the counts of the current period.
    VisitTracker m_visit;
    MotionGate m_gate;
    FaceWorkerCounts m_counts;
    QElapsedTimer m_clock;
    qint64 m_countsSinceMs = 0;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_loopRunning{false};
    // Start() calls so far: a run of the loop that goes on across a stop and
    // a start begins anew.
    std::atomic<unsigned> m_starts{0};
    FaceCloud m_cloud{m_stopRequested};
    // The video decoder's messages go to the log while the worker lives;
    // declared before the feed, so it outlives the feed's last message.
    struct DecoderLogAttachment
    {
        DecoderLogAttachment();
        ~DecoderLogAttachment();
    } m_decoderLog;
    CameraFeed m_feed;
    // The device check's own: the camera it asked the feed to open, and
    // whether its failure to open has been told since it was last open.
    CameraInfo m_requestedCamera;
    bool m_openFailureTold = false;
    QTimer *m_checkTimer = nullptr;
    // The loop's own pool: its thread ends with the worker, so none is left
    // idling in the global pool with the loop's thread-local state (OpenCV's
    // among it) after NV_Uninit.
    QThreadPool m_pool;
    QFuture<void> m_loop;
};
