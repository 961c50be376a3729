#pragma once

#include <QString>

class QSettings;
class QVariant;

// Every configuration value the library uses, read in one pass from
// conf/default.ini. A value, so that a reader on another thread can hold a
// consistent copy while the file is read again.
struct NerovaConfig
{
    QString server;
    QString deviceId;
    int checkDeviceInterval = 0;
    bool probeEnabled = true;
    QString probeDevice;
    int probeInterval = 300;
    QString probeUrl;
    bool faceEnabled = true;
    QString faceDevice;
    int faceInterval = 5;
    int faceThreshold = 80;
    bool faceBlurEnabled = false;
    int faceBlurThreshold = 80;
    bool faceBrightEnabled = false;
    int faceBrightThreshold = 80;
    bool faceLeftEye = true;
    bool faceRightEye = true;
    bool faceNose = true;
    bool faceMouth = true;
    bool oncePerVisit = false;
    int visitGap = 10;
    bool motionGate = true;
    int motionGatePeriod = 60;
    int statsInterval = 3600;
    int baiduThreshold = 80;
    QString baiduSearchQuality = QStringLiteral("NONE");
    QString baiduRegisterQuality = QStringLiteral("NORMAL");
    int quotaPause = 3600;
    QString faceTokenServer;
    QString faceAddUrl;
    QString faceSearchUrl;
    QString baiduGroup;
    QString uidUrl;
    QString addUserUrl;
    QString tradeUrl;
    // A trade the server did not answer is sent again after this many
    // milliseconds, doubled at each failure in a row up to the longest.
    int tradeRetryDelay = 3000;
    int tradeRetryMaxDelay = 60000;
    // Trades the outbox holds at most.
    int tradeOutboxMax = 10000;
    // A CA file (relative to the installation) that the store server's
    // certificate must come from; none: any certificate is accepted.
    QString serverCaFile;
    // The cloud's certificate is verified, against the system's CAs or
    // those of cloudCaFile (relative to the installation) when set.
    bool cloudTlsVerify = true;
    QString cloudCaFile;
    bool proxyEnabled = false;
    QString proxyHost;
    int proxyPort = 0;
    bool debugMode = false;
    // The debug pictures kept in debug/, the oldest deleted first.
    int debugKeepFiles = 1000;
    int debugKeepMB = 200;

    // Reads every key (not the Log group) in the documented order, with
    // Qt's conversion rules; store-server paths get the server base in front.
    static NerovaConfig read(QSettings &settings);

    // The device checks run at this period; an absent or non-positive
    // interval gives one second rather than a busy loop.
    int deviceCheckPeriodMs() const;

    // Qt's rules for values read as text: integers are decimal text (else 0),
    // booleans are false for "", "0" and "false" in any case, true otherwise.
    // An unquoted value with commas, which QSettings hands over as a list,
    // is the text of its parts joined with ",".
    static QString textValue(const QVariant &value);
    static int intValue(const QVariant &value);
    static bool boolValue(const QVariant &value);
};
