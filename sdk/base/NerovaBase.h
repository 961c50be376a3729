#pragma once

#include "InstallPaths.h"
#include "NerovaConfig.h"
#include "NerovaLog.h"
#include "nerova.h"

#include <QObject>
#include <QSettings>
#include <QString>
#include <QTranslator>

#include <memory>
#include <mutex>

class ConfigWatcher;

// The one object every part of the library consults: the configuration,
// the host's callbacks, the session with the store server, the directory
// paths, logging and the translator. Reached through instance().
//
// Threads: it is built and reloaded on the host thread; the face worker's
// thread reads it too. config() hands out an immutable snapshot, and the
// session and callbacks are guarded, so no reader sees a half-written value.
class NerovaBase : public QObject
{
    Q_OBJECT
public:
    NerovaBase();
    ~NerovaBase() override;

    static NerovaBase *instance();

    std::shared_ptr<const NerovaConfig> config() const;

    void setCallbacks(NV_SessionCallback session, NV_FaceCallback face, NV_NotifyCallback notify);
    void sessionCallback(int code, const QString &text) const;
    void faceCallback(const QString &text) const;
    void notifyCallback(int code, const QString &text) const;

    QString sessionToken() const;
    QString brandId() const;
    void setSession(const QString &token, const QString &brandId);
    void clearSession();

    // Resolved once, at construction; the core reads the same paths.
    const InstallPaths &paths() const { return m_paths; }
    QString applicationDir() const { return m_paths.applicationDir; }
    QString logDir() const { return m_paths.logDir; }
    QString dataDir() const { return m_paths.dataDir; }
    QString configFile() const { return m_paths.configFile; }
    QString loggerName() const;

    void logTrace(const QString &text) const;
    void logInfo(const QString &text) const;
    void logError(const QString &text) const;
    // logError, and the same line on the standard error.
    void logProblem(const QString &text) const;

    // True while this thread runs a host callback: the host may call any
    // export from there, so nothing that called it may be destroyed now.
    static bool isInsideHostCallback();

    // From any thread: ends the session on the host thread (the core stops
    // the workers and clears the session, then tells the host 6106).
    void requestSessionEnd();

signals:
    void sessionEndRequested();

public slots:
    void TriggerConfUpdated(const QString &strConfFile);

private:
    void loadConfiguration();
    NerovaLog::Logger logger() const;

    mutable std::mutex m_mutex;
    NV_SessionCallback m_sessionCallback = nullptr;
    NV_FaceCallback m_faceCallback = nullptr;
    NV_NotifyCallback m_notifyCallback = nullptr;
    InstallPaths m_paths;
    std::unique_ptr<QSettings> m_settings;
    QString m_loggerName;
    // The logger of m_loggerName, looked up once per reload rather than on
    // every line.
    NerovaLog::Logger m_logger;
    QString m_sessionToken;
    QString m_brandId;
    std::shared_ptr<const NerovaConfig> m_config;
    QTranslator m_translator;
    ConfigWatcher *m_watcher = nullptr;
};
