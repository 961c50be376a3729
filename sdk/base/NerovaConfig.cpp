#include "NerovaConfig.h"

#include "ConfigKeys.h"
#include "TimerPeriod.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace {

// QSettings splits an unquoted value at commas into a list (Qt's own text
// conversion would then give an empty text); the library means the text as
// written, so the parts are joined again. QSettings has dropped the spaces
// around each comma: joining with a bare comma keeps "HH:mm:ss,SSS" and
// URLs intact, and log4j's lists ("INFO,A1") do not care.
QString joinedText(const QVariant &value)
{
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

class KeyReader
{
public:
    explicit KeyReader(QSettings &settings) : m_settings(settings) {}

    QString text(const char *key, const QString &fallback = QString()) const
    {
        const QVariant value = m_settings.value(QLatin1String(key));
        return value.isValid() ? joinedText(value) : fallback;
    }
    int integer(const char *key, int fallback) const
    {
        const QVariant value = m_settings.value(QLatin1String(key));
        return value.isValid() ? NerovaConfig::intValue(value) : fallback;
    }
    // A value that is not positive counts as absent.
    int positive(const char *key, int fallback) const
    {
        const int value = integer(key, fallback);
        return value > 0 ? value : fallback;
    }
    bool boolean(const char *key, bool fallback) const
    {
        const QVariant value = m_settings.value(QLatin1String(key));
        return value.isValid() ? NerovaConfig::boolValue(value) : fallback;
    }

private:
    QSettings &m_settings;
};

} // namespace

QString NerovaConfig::textValue(const QVariant &value)
{
    return joinedText(value);
}

int NerovaConfig::intValue(const QVariant &value)
{
    return joinedText(value).trimmed().toInt();
}

bool NerovaConfig::boolValue(const QVariant &value)
{
    const QString text = joinedText(value);
    return !(text.isEmpty() || text == QLatin1String("0") || text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0);
}

NerovaConfig NerovaConfig::read(QSettings &settings)
{
    const KeyReader keys(settings);
    NerovaConfig c;
    c.server = keys.text(ConfigKeys::Server);
    c.deviceId = keys.text(ConfigKeys::DeviceId);
    c.checkDeviceInterval = keys.integer(ConfigKeys::CheckDeviceInterval, 0);
    c.probeEnabled = keys.boolean(ConfigKeys::ProbeEnabled, true);
    c.probeDevice = keys.text(ConfigKeys::ProbeDevice);
    c.probeInterval = keys.integer(ConfigKeys::ProbeInterval, 300);
    c.probeUrl = c.server + keys.text(ConfigKeys::ProbeUrl);
    c.faceEnabled = keys.boolean(ConfigKeys::FaceEnabled, true);
    c.faceDevice = keys.text(ConfigKeys::FaceDevice);
    c.faceInterval = keys.integer(ConfigKeys::FaceInterval, 5);
    c.faceThreshold = keys.integer(ConfigKeys::FaceThreshold, 80);
    c.faceBlurEnabled = keys.boolean(ConfigKeys::FaceBlurEnabled, false);
    c.faceBlurThreshold = keys.integer(ConfigKeys::FaceBlurThreshold, 80);
    c.faceBrightEnabled = keys.boolean(ConfigKeys::FaceBrightEnabled, false);
    c.faceBrightThreshold = keys.integer(ConfigKeys::FaceBrightThreshold, 80);
    c.faceLeftEye = keys.boolean(ConfigKeys::FaceLeftEye, true);
    c.faceRightEye = keys.boolean(ConfigKeys::FaceRightEye, true);
    c.faceNose = keys.boolean(ConfigKeys::FaceNose, true);
    c.faceMouth = keys.boolean(ConfigKeys::FaceMouth, true);
    c.oncePerVisit = keys.boolean(ConfigKeys::OncePerVisit, false);
    c.visitGap = keys.integer(ConfigKeys::VisitGap, 10);
    c.motionGate = keys.boolean(ConfigKeys::MotionGate, true);
    c.motionGatePeriod = keys.integer(ConfigKeys::MotionGatePeriod, 60);
    c.statsInterval = keys.integer(ConfigKeys::StatsInterval, 3600);
    c.baiduThreshold = keys.integer(ConfigKeys::BaiduThreshold, 80);
    c.baiduSearchQuality = keys.text(ConfigKeys::BaiduSearchQuality, QStringLiteral("NONE"));
    c.baiduRegisterQuality = keys.text(ConfigKeys::BaiduRegisterQuality, QStringLiteral("NORMAL"));
    c.quotaPause = keys.integer(ConfigKeys::QuotaPause, 3600);
    c.faceTokenServer = keys.text(ConfigKeys::FaceTokenServer);
    c.faceAddUrl = keys.text(ConfigKeys::FaceAddUrl);
    c.faceSearchUrl = keys.text(ConfigKeys::FaceSearchUrl);
    c.baiduGroup = keys.text(ConfigKeys::BaiduGroup);
    c.uidUrl = c.server + keys.text(ConfigKeys::UIdUrl);
    c.addUserUrl = c.server + keys.text(ConfigKeys::AddUserUrl);
    c.tradeUrl = c.server + keys.text(ConfigKeys::TradeUrl);
    c.tradeRetryDelay = keys.positive(ConfigKeys::TradeRetryDelay, c.tradeRetryDelay);
    c.tradeRetryMaxDelay = keys.positive(ConfigKeys::TradeRetryMaxDelay, c.tradeRetryMaxDelay);
    c.tradeOutboxMax = keys.positive(ConfigKeys::TradeOutboxMax, c.tradeOutboxMax);
    c.proxyEnabled = keys.boolean(ConfigKeys::ProxyEnabled, false);
    c.proxyHost = keys.text(ConfigKeys::ProxyHost);
    c.proxyPort = keys.integer(ConfigKeys::ProxyPort, 0);
    c.debugMode = keys.boolean(ConfigKeys::DebugMode, false);
    c.debugKeepFiles = keys.integer(ConfigKeys::DebugKeepFiles, 1000);
    c.debugKeepMB = keys.integer(ConfigKeys::DebugKeepMB, 200);
    c.serverCaFile = keys.text(ConfigKeys::ServerCaFile);
    c.cloudTlsVerify = keys.boolean(ConfigKeys::TlsVerify, true);
    c.cloudCaFile = keys.text(ConfigKeys::BaiduCaFile);
    return c;
}

int NerovaConfig::deviceCheckPeriodMs() const
{
    return timerPeriodMs(checkDeviceInterval, 1000);
}
