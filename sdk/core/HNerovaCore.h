#pragma once

#include "NerovaBase.h"
#include "nerova.h"

#include <QByteArray>
#include <QObject>
#include <QSettings>
#include <QString>

#include <memory>

class ConfigWatcher;
class NerovaFace;
class QNetworkAccessManager;
class QNetworkReply;

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
    int ReportData(const QString &data);

    bool isInitialised() const { return m_initialised; }
    bool isStarted() const { return m_started; }
    QString loggerName() const { return m_loggerName; }
    QString loginUrl() const { return m_loginUrl; }
    QString storeNumber() const { return m_storeNumber; }
    NerovaBase &base() { return m_base; }
    // The transfer time-out of login and trade requests (30 s unless set).
    void setRequestTimeout(int milliseconds) { m_requestTimeoutMs = milliseconds; }

public slots:
    void TriggerConfUpdated(const QString &strConfFile);
    void TriggerReplyFinished(QNetworkReply *reply);

private:
    void loadConfiguration();
    void applyProxy();
    void logCoreInfo(const QString &text) const;
    void logSystemInfo() const;
    void handleLoginAnswer(QNetworkReply *reply, const QByteArray &body);
    void handleTradeAnswer(const QByteArray &body);

    bool m_initialised = false;
    bool m_started = false;
    QString m_applicationDir;
    QString m_configDir;
    QString m_configFile;
    QString m_logDir;
    QString m_loggerName = QStringLiteral("default");
    QString m_serverBase;
    QString m_loginUrl;
    QString m_storeNumber;
    QString m_userName;
    QByteArray m_password;
    // Declared before the members that may log through it on destruction.
    NerovaBase m_base;
    // Declared after the base, so it goes first; it joins its loop then.
    std::unique_ptr<NerovaFace> m_face;
    std::unique_ptr<QSettings> m_settings;
    ConfigWatcher *m_watcher = nullptr;
    QNetworkAccessManager *m_network = nullptr;
    int m_requestTimeoutMs;
};
