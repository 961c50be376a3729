#pragma once

#include "NerovaBase.h"
#include "StoreProtocol.h"
#include "nerova.h"

#include <QByteArray>
#include <QObject>
#include <QSettings>
#include <QString>

#include <atomic>
#include <memory>

class ConfigWatcher;
class NerovaFace;
class NerovaProbe;
class QNetworkAccessManager;
class QNetworkReply;
class TradeOutbox;
class TradeSender;

// The single object behind the exported functions: it owns the worker base,
// its own reading of the configuration, the network manager of the store
// server session and (when they exist) the workers.
class HNerovaCore : public QObject
{
    Q_OBJECT
public:
    HNerovaCore(NV_SessionCallback sessionCallback, NV_FaceCallback faceCallback,
                NV_NotifyCallback notifyCallback);
    ~HNerovaCore() override;

    int Initialise();
    int Start();
    int Stop();
    // userName and password are the host's UTF-8 texts.
    int Login(const QByteArray &userName, const QByteArray &password);
    int Logout();
    // From any thread: the trade is in the outbox when this returns.
    int ReportData(const QString &data);
    // NV_Uninit's first half: the workers stop and the host hears nothing
    // more from this core, which may then be destroyed at once or, when the
    // host is inside one of its callbacks, once that call has returned.
    void Retire();
    // A host leaving without NV_Uninit: the face loop ends before the
    // process tears down the logging it writes through.
    void EndForExit();

    bool isInitialised() const { return m_initialised; }
    bool isStarted() const { return m_started; }
    QString loggerName() const { return m_loggerName; }
    QString loginUrl() const { return m_loginUrl; }
    QString storeNumber() const { return m_storeNumber; }
    NerovaBase &base() { return m_base; }
    // The transfer time-out of login and trade requests (30 s unless set).
    void setRequestTimeout(int milliseconds);

public slots:
    void TriggerConfUpdated(const QString &strConfFile);
    void TriggerReplyFinished(QNetworkReply *reply);
    // The one way a session ends on the server's word: the workers stop,
    // the token and brand are cleared, then the host hears 6106. Runs on the
    // host thread; workers ask for it through NerovaBase::requestSessionEnd().
    void EndSession();

private:
    static constexpr int exitWaitMs = 3000;

    void loadConfiguration();
    void applyProxy();
    void logCoreInfo(const QString &text) const;
    void logSystemInfo() const;
    bool configurationExists() const;
    void reportMissingConfiguration() const;
    QString noLoginAddressText() const;
    void failLoginLater(const QString &text);
    void loginTakenForTrade(const QString &tradeUrl);
    void reportTradeTextProblem(const QString &data) const;
    static QString unusableLoginAnswer(const QNetworkReply *reply, const QByteArray &body, bool isObject,
                                       const StoreProtocol::LoginAnswer &answer);
    void handleLoginAnswer(QNetworkReply *reply, const QByteArray &body);
    void handleTradeAnswer(const QByteArray &body);
    void createTradeSender();

    // Read by NV_ReportData on any thread.
    std::atomic<bool> m_initialised{false};
    bool m_started = false;
    QString m_loggerName = QStringLiteral("default");
    QString m_serverBase;
    QString m_loginUrl;
    QString m_storeNumber;
    QString m_userName;
    QByteArray m_password;
    // Declared before the members that may log through it on destruction;
    // it owns the installation paths the core reads too.
    NerovaBase m_base;
    // The workers are declared after the base, so that they are stopped and
    // destroyed (the face loop joined) before it goes.
    std::unique_ptr<NerovaProbe> m_probe;
    std::unique_ptr<NerovaFace> m_face;
    // The sender goes before the outbox it sends from.
    std::unique_ptr<TradeOutbox> m_tradeOutbox;
    std::unique_ptr<TradeSender> m_trades;
    std::unique_ptr<QSettings> m_settings;
    ConfigWatcher *m_watcher = nullptr;
    QNetworkAccessManager *m_network = nullptr;
    int m_requestTimeoutMs;
};
