#include "WizardSettings.h"

#include <QSettings>

WizardSettings WizardSettings::read(QSettings &settings)
{
    WizardSettings s;
    s.deviceId = settings.value("Nerova/DeviceId").toString();
    s.probeDevice = settings.value("Probe/ProbeDevice").toString();
    s.faceDevice = settings.value("Face/FaceDevice").toString();
    s.faceThreshold = settings.value("Face/FaceThreshold", 80).toInt();
    s.faceLeftEye = settings.value("Face/FaceLeftEye", true).toBool();
    s.faceRightEye = settings.value("Face/FaceRightEye", true).toBool();
    s.faceNose = settings.value("Face/FaceNose", true).toBool();
    s.faceMouth = settings.value("Face/FaceMouth", true).toBool();
    s.loginUrl = settings.value("Server/Server").toString() + settings.value("Server/LoginUrl").toString();
    s.debugMode = settings.value("Nerova/DebugMode", false).toBool();
    return s;
}
