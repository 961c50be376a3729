#include "NerovaConfig.h"

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
    c.server = keys.text("Server/Server");
    c.deviceId = keys.text("Nerova/DeviceId");
    c.checkDeviceInterval = keys.integer("Nerova/CheckDeviceInterval", 0);
    c.probeEnabled = keys.boolean("Probe/ProbeEnabled", true);
    c.probeDevice = keys.text("Probe/ProbeDevice");
    c.probeInterval = keys.integer("Probe/ProbeInterval", 300);
    c.probeUrl = c.server + keys.text("Server/ProbeUrl");
    c.faceEnabled = keys.boolean("Face/FaceEnabled", true);
    c.faceDevice = keys.text("Face/FaceDevice");
    c.faceInterval = keys.integer("Face/FaceInterval", 5);
    c.faceThreshold = keys.integer("Face/FaceThreshold", 80);
    c.faceBlurEnabled = keys.boolean("Face/FaceBlurEnabled", false);
    c.faceBlurThreshold = keys.integer("Face/FaceBlurThreshold", 80);
    c.faceBrightEnabled = keys.boolean("Face/FaceBrightEnabled", false);
    c.faceBrightThreshold = keys.integer("Face/FaceBrightThreshold", 80);
    c.faceLeftEye = keys.boolean("Face/FaceLeftEye", true);
    c.faceRightEye = keys.boolean("Face/FaceRightEye", true);
    c.faceNose = keys.boolean("Face/FaceNose", true);
    c.faceMouth = keys.boolean("Face/FaceMouth", true);
    c.baiduThreshold = keys.integer("Baidu/BaiduThreshold", 80);
    c.baiduSearchQuality = keys.text("Baidu/BaiduSearchQuality", QStringLiteral("NONE"));
    c.baiduRegisterQuality = keys.text("Baidu/BaiduRegisterQuality", QStringLiteral("NORMAL"));
    c.faceTokenServer = keys.text("Baidu/FaceTokenServer");
    c.faceAddUrl = keys.text("Baidu/FaceAddUrl");
    c.faceSearchUrl = keys.text("Baidu/FaceSearchUrl");
    c.baiduGroup = keys.text("Baidu/BaiduGroup");
    c.uidUrl = c.server + keys.text("Server/UIdUrl");
    c.addUserUrl = c.server + keys.text("Server/AddUserUrl");
    c.tradeUrl = c.server + keys.text("Server/TradeUrl");
    c.proxyEnabled = keys.boolean("Nerova/ProxyEnabled", false);
    c.proxyHost = keys.text("Nerova/ProxyHost");
    c.proxyPort = keys.integer("Nerova/ProxyPort", 0);
    c.debugMode = keys.boolean("Nerova/DebugMode", false);
    return c;
}

int NerovaConfig::deviceCheckPeriodMs() const
{
    return checkDeviceInterval > 0 ? checkDeviceInterval * 1000 : 1000;
}
