#include "HNerovaCore.h"

#include "ConfigWatcher.h"
#include "ConfigKeys.h"
#include "LogGroup.h"
#include "LogSecrets.h"
#include "NerovaFace.h"
#include "NerovaLog.h"
#include "NerovaProbe.h"
#include "StoreProtocol.h"
#include "StoreRequest.h"
#include "TradeOutbox.h"
#include "TradeSender.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSysInfo>
#include <QTextCodec>

namespace {

// Marks the replies of login requests, whatever address they end up with.
const char loginReplyProperty[] = "nerovaLogin";

QString homeVariableState()
{
    const QString home = qEnvironmentVariable("NEROVA_HOME");
    return home.isEmpty() ? QStringLiteral("NEROVA_HOME is not set") : QStringLiteral("NEROVA_HOME is %1").arg(home);
}

} // namespace

HNerovaCore::HNerovaCore(NV_SessionCallback sessionCallback, NV_FaceCallback faceCallback,
                         NV_NotifyCallback notifyCallback)
    : m_requestTimeoutMs(StoreRequest::defaultTimeoutMs)
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("utf-8"));
    m_settings = std::make_unique<QSettings>(m_base.paths().configFile, QSettings::IniFormat);
    loadConfiguration();
    m_base.setCallbacks(sessionCallback, faceCallback, notifyCallback);
    connect(&m_base, &NerovaBase::sessionEndRequested, this, &HNerovaCore::EndSession, Qt::QueuedConnection);
    applyProxy();
}

// Trades and a probe upload on their way share one short wait for their
// answers. The network manager is a child, which QObject would delete only
// after the base is gone: it and its replies go first, unheard.
HNerovaCore::~HNerovaCore()
{
    const QDeadlineTimer answersDeadline(exitWaitMs);
    if (m_trades) {
        m_trades->retire();
        m_trades->awaitInFlight(answersDeadline);
    }
    if (m_probe)
        m_probe->EndUploads(answersDeadline);
    Stop();
    m_face.reset();
    if (m_network) {
        m_network->disconnect(this);
        delete m_network;
        m_network = nullptr;
    }
}

void HNerovaCore::EndForExit()
{
    if (m_face)
        m_face->EndLoopForExit(exitWaitMs);
}

void HNerovaCore::Retire()
{
    if (m_trades)
        m_trades->retire();
    Stop();
    m_base.setCallbacks(nullptr, nullptr, nullptr);
}

// The core's own reading: the Log group (which may rename the core's
// logger), the server base, the login address and the store number.
void HNerovaCore::loadConfiguration()
{
    m_settings->sync();
    const LogGroup logGroup = LogGroup::read(*m_settings, m_base.paths().logDir);
    if (!logGroup.loggerName.isEmpty())
        m_loggerName = logGroup.loggerName;
    logGroup.apply();
    m_serverBase = NerovaConfig::textValue(m_settings->value(QLatin1String(ConfigKeys::Server)));
    m_loginUrl = m_serverBase + NerovaConfig::textValue(m_settings->value(QLatin1String(ConfigKeys::LoginUrl)));
    m_storeNumber = NerovaConfig::textValue(m_settings->value(QLatin1String(ConfigKeys::DeviceId)));
}

// The proxy is set once, when the core is built; later edits of the file
// take effect at the next load of the library.
void HNerovaCore::applyProxy()
{
    const auto config = m_base.config();
    if (!config->proxyEnabled)
        return;
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, config->proxyHost, static_cast<quint16>(config->proxyPort)));
}

void HNerovaCore::logCoreInfo(const QString &text) const
{
    NerovaLog::info(m_loggerName, text);
}

int HNerovaCore::Initialise()
{
    if (m_initialised) {
        logCoreInfo(QStringLiteral("SDK init already"));
        return NV_OK;
    }
    m_network = new QNetworkAccessManager(this);
    connect(m_network, &QNetworkAccessManager::finished, this, &HNerovaCore::TriggerReplyFinished);
    m_watcher = new ConfigWatcher(m_base.paths().configFile, this);
    connect(m_watcher, &ConfigWatcher::fileChanged, this, &HNerovaCore::TriggerConfUpdated);
    logCoreInfo(QStringLiteral("Init success"));
    logSystemInfo();
    reportMissingConfiguration();
    m_probe = std::make_unique<NerovaProbe>();
    m_face = std::make_unique<NerovaFace>();
    createTradeSender();
    m_initialised = true;
    return NV_OK;
}

void HNerovaCore::createTradeSender()
{
    NerovaBase *base = &m_base;
    m_tradeOutbox = std::make_unique<TradeOutbox>(m_base.dataDir(), TradeOutboxLimits(),
                                                  [base](const QString &text) { base->logProblem(text); });
    m_trades = std::make_unique<TradeSender>(m_base, *m_tradeOutbox, *m_network, m_requestTimeoutMs);
    connect(m_trades.get(), &TradeSender::sessionRejected, this, &HNerovaCore::EndSession);
}

void HNerovaCore::setRequestTimeout(int milliseconds)
{
    m_requestTimeoutMs = milliseconds;
    if (m_trades)
        m_trades->setRequestTimeout(milliseconds);
}

// On Linux both Windows version values are 0; the line keeps its format.
void HNerovaCore::logSystemInfo() const
{
    const int windowsVersionAtStart = 0;
    const int windowsVersion = 0;
    m_base.logInfo(QStringLiteral("WindowsVersion: %1, buildAbi: %2, buildCpuArchitecture: %3, "
                                  "currentCpuArchitecture: %4, kernelType: %5, kernelVersion: %6, "
                                  "machineHostName: %7, prettyProductName: %8productType: %9, "
                                  "productVersion: %10, Windows Version: %11")
                       .arg(windowsVersionAtStart)
                       .arg(QSysInfo::buildAbi(), QSysInfo::buildCpuArchitecture(),
                            QSysInfo::currentCpuArchitecture(), QSysInfo::kernelType(),
                            QSysInfo::kernelVersion(), QSysInfo::machineHostName(),
                            QSysInfo::prettyProductName(), QSysInfo::productType())
                       .arg(QSysInfo::productVersion())
                       .arg(windowsVersion));
}

bool HNerovaCore::configurationExists() const
{
    return QFileInfo::exists(m_base.paths().configFile);
}

// Without its file the library has no store server, no devices and no log:
// the installer must hear where it looked.
void HNerovaCore::reportMissingConfiguration() const
{
    if (configurationExists())
        return;
    m_base.logProblem(QStringLiteral("No configuration: %1 does not exist, so there is no store server, no device "
                                     "and no log. The library works in the directory of the host program or in the "
                                     "directory that NEROVA_HOME names (%2): set NEROVA_HOME to the installation "
                                     "directory, e.g. /opt/nerova")
                          .arg(m_base.paths().configFile, homeVariableState()));
}

int HNerovaCore::Start()
{
    if (!m_initialised)
        return NV_ERR_NOT_INIT;
    if (m_base.sessionToken().isEmpty())
        return NV_ERR_NO_SESSION;
    m_base.logInfo(QStringLiteral("Start working"));
    if (m_started)
        return NV_OK;
    m_probe->Start();
    m_face->Start();
    m_started = true;
    return NV_OK;
}

int HNerovaCore::Stop()
{
    if (!m_initialised)
        return NV_ERR_NOT_INIT;
    m_base.logInfo(QStringLiteral("Stop working"));
    m_face->Stop();
    m_probe->Stop();
    m_started = false;
    return NV_OK;
}

void HNerovaCore::TriggerConfUpdated(const QString &strConfFile)
{
    Q_UNUSED(strConfFile)
    loadConfiguration();
}

int HNerovaCore::Login(const QByteArray &userName, const QByteArray &password)
{
    if (!m_initialised)
        return NV_ERR_NOT_INIT;
    m_userName = QString::fromUtf8(userName).trimmed();
    m_password = password.trimmed();
    if (m_userName.isEmpty() || m_password.isEmpty()) {
        m_userName.clear();
        m_password.clear();
        return NV_ERR_PARAM;
    }
    LogSecrets::rememberSecret(QString::fromUtf8(m_password));
    logCoreInfo(QStringLiteral("Login url:%1, mac: %2, userName=%3").arg(m_loginUrl, m_storeNumber, m_userName));
    if (m_loginUrl.isEmpty()) {
        failLoginLater(noLoginAddressText());
        return NV_OK;
    }
    const QNetworkRequest request = StoreRequest::make(m_loginUrl, m_requestTimeoutMs, StoreRequest::tlsFor(StoreRequest::Peer::StoreServer));
    QNetworkReply *reply =
        StoreRequest::post(*m_network, request, StoreProtocol::loginBody(m_storeNumber, m_password, m_userName));
    reply->setProperty(loginReplyProperty, true);
    return NV_OK;
}

QString HNerovaCore::noLoginAddressText() const
{
    if (!configurationExists())
        return tr("No login address: %1 does not exist (set NEROVA_HOME to the installation directory)")
            .arg(m_base.paths().configFile);
    return tr("No login address: Server/Server and Server/LoginUrl are empty in %1").arg(m_base.paths().configFile);
}

// Like every login outcome, the failure reaches the host from its loop, after
// NV_Login has returned; it is dropped with the core.
void HNerovaCore::failLoginLater(const QString &text)
{
    m_base.logProblem(text);
    QMetaObject::invokeMethod(
        this, [this, text] { m_base.sessionCallback(NV_SESSION_NETWORK_ERROR, text); }, Qt::QueuedConnection);
}

int HNerovaCore::Logout()
{
    if (!m_initialised)
        return NV_ERR_NOT_INIT;
    Stop();
    m_base.clearSession();
    return NV_OK;
}

// The request goes out from the host's loop, with the token in force then.
int HNerovaCore::ReportData(const QString &data)
{
    if (!m_initialised)
        return NV_ERR_NOT_INIT;
    if (m_base.sessionToken().isEmpty())
        return NV_ERR_NO_SESSION;
    const QByteArray body = StoreProtocol::tradeBody(data, m_base.config()->deviceId);
    reportTradeTextProblem(data);
    m_base.logTrace(QStringLiteral("Report trace data: %1").arg(QString::fromUtf8(body)));
    m_trades->report(body);
    return NV_OK;
}

// The report still goes out, with only "mac", as hosts have always seen it
// go; the installer finds the cause in the log.
void HNerovaCore::reportTradeTextProblem(const QString &data) const
{
    const QString problem = StoreProtocol::tradeTextProblem(data);
    if (problem.isEmpty())
        return;
    const int shownCharacters = 200;
    m_base.logError(QStringLiteral("Trade text is not a JSON object (%1): the report is sent with only \"mac\". "
                                   "The host passed: %2")
                        .arg(problem, data.left(shownCharacters)));
}

// Every answer on the core's network manager: the sender's trades are
// known by their reply; other answers whose address begins with the trade
// URL are taken for trade answers, login answers are those whose address is
// the login URL exactly; the reply is released in every case. A login
// answer that these rules miss is a login that can never complete.
void HNerovaCore::TriggerReplyFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (m_trades && m_trades->isTradeReply(reply)) {
        m_trades->TriggerTradeAnswer(reply);
        return;
    }
    const QByteArray body = StoreRequest::answerBody(reply);
    const QString address = reply->url().toString();
    const QString tradeUrl = m_base.config()->tradeUrl;
    const bool sentAsLogin = reply->property(loginReplyProperty).toBool();
    if (address.startsWith(tradeUrl)) {
        handleTradeAnswer(body);
        if (sentAsLogin)
            loginTakenForTrade(tradeUrl);
    } else if (address == m_loginUrl) {
        handleLoginAnswer(reply, body);
    } else if (sentAsLogin) {
        m_base.logProblem(QStringLiteral("Login answer from %1 ignored: it is not the login address %2 as written. "
                                         "Write Server/Server the way Qt writes addresses (scheme and host in "
                                         "lower case)")
                              .arg(address, m_loginUrl));
    }
}

// The trade answer's own callback, if any, has run: the host may have ended
// the library there, which leaves it no callbacks to hear this one.
void HNerovaCore::loginTakenForTrade(const QString &tradeUrl)
{
    const QString text = tr("Login answer taken for a trade answer: the login address %1 begins with the trade "
                            "address %2, so no login can complete; give the login and the trade each their own path")
                             .arg(m_loginUrl, tradeUrl);
    m_base.logProblem(text);
    m_base.sessionCallback(NV_SESSION_NETWORK_ERROR, text);
}

void HNerovaCore::handleLoginAnswer(QNetworkReply *reply, const QByteArray &body)
{
    const int error = StoreRequest::errorNumber(reply);
    if (error != QNetworkReply::NoError) {
        m_base.logError(QStringLiteral("Login erro: %1, %2").arg(error).arg(StoreRequest::errorText(reply)));
        m_base.sessionCallback(NV_SESSION_NETWORK_ERROR, tr("Network error(%1)").arg(error));
        return;
    }
    bool isObject = false;
    const StoreProtocol::LoginAnswer answer = StoreProtocol::loginAnswer(StoreProtocol::replyObject(body, &isObject));
    m_base.logTrace(QStringLiteral("Login return: %1").arg(QString::fromUtf8(body)));
    const QString unusable = unusableLoginAnswer(reply, body, isObject, answer);
    if (!unusable.isEmpty()) {
        m_base.logError(unusable);
        m_base.sessionCallback(NV_SESSION_BAD_ANSWER, unusable);
        return;
    }
    if (answer.state != 0) {
        m_base.sessionCallback(answer.state, answer.msg);
        return;
    }
    m_base.setSession(answer.token, answer.brandId);
    if (m_trades)
        m_trades->sessionOpened();
    m_base.sessionCallback(NV_SESSION_OK, answer.labelsText);
}

// What a login answer that opens no session and names no refusal was: a
// page that is not JSON (a captive portal's sign-in page answered 200) or
// a success without a token. Empty for a usable answer.
QString HNerovaCore::unusableLoginAnswer(const QNetworkReply *reply, const QByteArray &body, bool isObject,
                                         const StoreProtocol::LoginAnswer &answer)
{
    const QString what = QStringLiteral("%1, %2 bytes")
                             .arg(reply->header(QNetworkRequest::ContentTypeHeader).toString(), QString::number(body.size()));
    if (!isObject)
        return tr("Login answer is not a JSON object (%1)").arg(what);
    if (answer.state == 0 && answer.token.isEmpty())
        return tr("Login answer has state 0 but no token (%1)").arg(what);
    return QString();
}

// A login answer taken for a trade answer. The host's callback comes last:
// it may end the core.
void HNerovaCore::handleTradeAnswer(const QByteArray &body)
{
    const QJsonObject answer = StoreProtocol::replyObject(body);
    const int state = StoreProtocol::tradeState(answer);
    m_base.logTrace(QStringLiteral("Report trace data result: %1").arg(QString::fromUtf8(body)));
    if (state == 401)
        EndSession();
    else if (state != 0)
        m_base.notifyCallback(NV_NOTIFY_TRADE_REFUSED, answer.value(QStringLiteral("msg")).toString());
}

void HNerovaCore::EndSession()
{
    if (m_initialised) {
        Stop();
        m_base.clearSession();
    }
    m_base.sessionCallback(NV_SESSION_INVALID_TOKEN, tr("Invalid token"));
}
