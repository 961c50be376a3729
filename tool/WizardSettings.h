#pragma once

#include <QString>

class QSettings;

// The configuration values the wizard reads at start, with the library's
// defaults and conversion rules.
struct WizardSettings
{
    QString deviceId;    // the store number
    QString probeDevice; // saved probe device identifier
    QString faceDevice;  // saved camera identifier
    int faceThreshold = 80;
    bool faceLeftEye = true;
    bool faceRightEye = true;
    bool faceNose = true;
    bool faceMouth = true;
    QString loginUrl;    // the server base followed directly by the login path
    bool debugMode = false;

    static WizardSettings read(QSettings &settings);
};
