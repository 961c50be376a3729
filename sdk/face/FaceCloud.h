#pragma once

#include "CloudProtocol.h"
#include "FaceWorkerCounts.h"
#include "PostJson.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

#include <atomic>

// The face worker's identification chain: the cloud service's access token,
// the face search, adding a new face, and the store's member service, whose
// accepted report ends in the host's face callback.
//
// The service's limits: a search or add answered "too many queries" or
// "busy" is sent again after a short pause, at most twice; a quota answer
// stops all searches for Baidu/QuotaPause seconds, told once per pause in
// the log and to the host (6208).
//
// Threads: it is used by the detection loop's thread, one thread at a time;
// its blocking requests run on the thread that calls it. Keeping one
// object across runs of the loop keeps the access token and the network
// state the host was told.
class FaceCloud
{
    Q_DECLARE_TR_FUNCTIONS(FaceCloud)
public:
    enum class Outcome {
        Reported,    // the host received the visitor
        NotReported, // the chain ended before: worth trying again
        Paused,      // not searched: the service's quota is used up
    };
    static constexpr int busyRetries = 2;
    static constexpr int busyPauseMs = 2000;

    // A raised stopRequested ends a waiting request early.
    explicit FaceCloud(const std::atomic<bool> &stopRequested);
    ~FaceCloud();

    FaceCloud(const FaceCloud &) = delete;
    FaceCloud &operator=(const FaceCloud &) = delete;

    bool hasToken() const;
    // Fetches the access token; on failure it stays empty.
    void RequestToken();
    // faceImage is the Base64 text of the PNG face crop. Searches it, then
    // reports the match, or a new uid under which the face is added.
    Outcome SearchFace(const QByteArray &faceImage);
    // The counts since the last call.
    FaceWorkerCounts takeCounts();

private:
    enum class Ask { Search, Add };

    Outcome RequestUid();
    Outcome AddFace(const QString &uid);
    Outcome RegisterUser(const QString &uid);
    // Sends a search or add, again while the service is busy; the reply
    // object of the last answer, empty when there was none.
    QJsonObject askCloud(Ask ask, const QString &url, const QByteArray &body);
    // Applies the reply's error code; true when the chain goes on.
    bool acceptCloudReply(const QJsonObject &reply, CloudProtocol::Step (*stepFor)(int));
    bool isPaused() const;
    void startQuotaPause(const QJsonObject &reply);
    Outcome endOfChain();
    void waitBeforeRetry();
    void logReply(Ask ask, const QByteArray &reply) const;
    QString cloudUrl(const QString &address) const;
    static QString memberUrl(const QString &address);

    // The network state the host was told last; the host starts out
    // assuming a working network.
    std::atomic<bool> m_networkReady{true};
    PostJson m_post;
    QString m_accessToken;
    QByteArray m_faceImage;
    const std::atomic<bool> &m_stopRequested;
    FaceWorkerCounts m_counts;
    QElapsedTimer m_clock;
    qint64 m_pauseEndsMs = -1;
    // The quota answer of this pause, told to the host as the chain ends.
    QString m_pauseNotice;
};
