#pragma once

#include "CloudProtocol.h"
#include "PostJson.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QJsonObject>
#include <QString>

#include <atomic>

// The face worker's identification chain: the cloud service's access token,
// the face search, adding a new face, and the store's member service, whose
// accepted report ends in the host's face callback.
//
// Threads: it is used by the detection loop's thread, one thread at a time;
// its blocking requests run on the thread that calls it. Keeping one
// object across runs of the loop keeps the access token and the network
// state the host was told.
class FaceCloud
{
    Q_DECLARE_TR_FUNCTIONS(FaceCloud)
public:
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
    void SearchFace(const QByteArray &faceImage);

private:
    void RequestUid();
    void AddFace(const QString &uid);
    void RegisterUser(const QString &uid);
    // Applies a search or add reply's error code; true when the chain goes on.
    bool acceptCloudReply(const QJsonObject &reply, CloudProtocol::Step (*stepFor)(int));
    QString cloudUrl(const QString &address) const;
    static QString memberUrl(const QString &address);

    // The network state the host was told last; the host starts out
    // assuming a working network.
    std::atomic<bool> m_networkReady{true};
    PostJson m_post;
    QString m_accessToken;
    QByteArray m_faceImage;
};
