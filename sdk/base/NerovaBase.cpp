#include "NerovaBase.h"

#include "ConfigWatcher.h"
#include "JsonText.h"
#include "LogFileAppender.h"
#include "LogGroup.h"
#include "LogSecrets.h"
#include "NerovaLog.h"

#include <QCoreApplication>

#include <atomic>
#include <string>

namespace {
std::atomic<NerovaBase *> currentInstance{nullptr};
thread_local int hostCallbackDepth = 0;

// Counts the host callbacks running on this thread.
class HostCallbackScope
{
public:
    HostCallbackScope() { ++hostCallbackDepth; }
    ~HostCallbackScope() { --hostCallbackDepth; }
    HostCallbackScope(const HostCallbackScope &) = delete;
    HostCallbackScope &operator=(const HostCallbackScope &) = delete;
};

std::wstring wide(const QString &text)
{
    return text.toStdWString();
}

void logJsonRefusal(const QString &line)
{
    if (const NerovaBase *base = NerovaBase::instance())
        base->logError(line);
}
} // namespace

NerovaBase::NerovaBase()
    : m_paths(InstallPaths::current())
    , m_config(std::make_shared<const NerovaConfig>())
{
    currentInstance = this;
    JsonText::setRefusalLog(&logJsonRefusal);
    m_settings = std::make_unique<QSettings>(m_paths.configFile, QSettings::IniFormat);
    loadConfiguration();
    m_watcher = new ConfigWatcher(m_paths.configFile, this);
    connect(m_watcher, &ConfigWatcher::fileChanged, this, &NerovaBase::TriggerConfUpdated);
    if (m_translator.load(m_paths.translationFile))
        QCoreApplication::installTranslator(&m_translator);
}

NerovaBase::~NerovaBase()
{
    QCoreApplication::removeTranslator(&m_translator);
    NerovaBase *self = this;
    // The last instance: log4cxx may outlive the library (a Qt host unloads
    // it after NV_Uninit), and must then hold no appender of its code.
    if (currentInstance.compare_exchange_strong(self, nullptr))
        LogFileAppender::detachEverywhere();
}

NerovaBase *NerovaBase::instance()
{
    return currentInstance;
}

void NerovaBase::TriggerConfUpdated(const QString &strConfFile)
{
    Q_UNUSED(strConfFile)
    loadConfiguration();
}

void NerovaBase::loadConfiguration()
{
    m_settings->sync();
    const LogGroup logGroup = LogGroup::read(*m_settings, m_paths.logDir);
    NerovaLog::Logger logger = NerovaLog::logger(logGroup.loggerName);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_loggerName = logGroup.loggerName;
        m_logger = std::move(logger);
    }
    logGroup.apply();
    auto config = std::make_shared<const NerovaConfig>(NerovaConfig::read(*m_settings));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_config = std::move(config);
}

std::shared_ptr<const NerovaConfig> NerovaBase::config() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_config;
}

void NerovaBase::setCallbacks(NV_SessionCallback session, NV_FaceCallback face, NV_NotifyCallback notify)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessionCallback = session;
    m_faceCallback = face;
    m_notifyCallback = notify;
}

// The lock is not held while the host's code runs: a callback may call
// back into the library.
void NerovaBase::sessionCallback(int code, const QString &text) const
{
    NV_SessionCallback callback;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        callback = m_sessionCallback;
    }
    if (callback) {
        HostCallbackScope scope;
        callback(code, wide(text).c_str());
    }
}

void NerovaBase::faceCallback(const QString &text) const
{
    NV_FaceCallback callback;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        callback = m_faceCallback;
    }
    if (callback) {
        HostCallbackScope scope;
        callback(wide(text).c_str());
    }
}

void NerovaBase::notifyCallback(int code, const QString &text) const
{
    NV_NotifyCallback callback;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        callback = m_notifyCallback;
    }
    if (callback) {
        HostCallbackScope scope;
        callback(code, wide(text).c_str());
    }
}

QString NerovaBase::sessionToken() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sessionToken;
}

QString NerovaBase::brandId() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_brandId;
}

void NerovaBase::setSession(const QString &token, const QString &brandId)
{
    LogSecrets::rememberSecret(token);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessionToken = token;
    m_brandId = brandId;
}

void NerovaBase::clearSession()
{
    setSession(QString(), QString());
}

QString NerovaBase::loggerName() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_loggerName;
}

NerovaLog::Logger NerovaBase::logger() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_logger;
}

void NerovaBase::logTrace(const QString &text) const
{
    NerovaLog::trace(logger(), text);
}

void NerovaBase::logInfo(const QString &text) const
{
    NerovaLog::info(logger(), text);
}

void NerovaBase::logError(const QString &text) const
{
    NerovaLog::error(logger(), text);
}

void NerovaBase::logProblem(const QString &text) const
{
    NerovaLog::problem(logger(), text);
}

bool NerovaBase::isInsideHostCallback()
{
    return hostCallbackDepth > 0;
}

void NerovaBase::requestSessionEnd()
{
    emit sessionEndRequested();
}
