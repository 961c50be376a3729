#pragma once

#include "CameraList.h"
#include "FaceTestAnalyser.h"
#include "FaceTestRun.h"
#include "InstallPaths.h"
#include "NerovaConfig.h"
#include "SerialPortList.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class QLabel;
class QSerialPort;
class QSettings;
class QTimer;

namespace Ui {
class NerovaSimpleTool;
}

// The set-up wizard's window: a configuration page (store number, face
// camera, probe device) and a test page (three face test pictures, the
// network and probe results). Finish writes the store number and the chosen
// devices into conf/default.ini.
class NerovaSimpleTool : public QDialog
{
    Q_OBJECT

public:
    explicit NerovaSimpleTool(QWidget *parent = nullptr);
    ~NerovaSimpleTool() override;

private slots:
    void on_btnRefreshProbeDevice_clicked();
    void on_btnFaceDeviceRefresh_clicked();
    void TriggerSerialReadReady();
    void on_btnNext_clicked();
    void on_btnPrevious_clicked();
    void on_btnTest_clicked();

protected:
    void closeEvent(QCloseEvent *event) override;

public slots:
    void reject() override;

private:
    void readConfiguration();
    void resetTestDisplay();
    void showPage(int page);
    void showError(const QString &text);
    bool confirmConfigPage();
    void finish();
    bool saveConfiguration();

    FaceTestAnalyser::Switches featureSwitches() const;
    void showCascadeProblems();
    QString cascadeProblems(QStringList &files) const;
    void runFaceTest(int cameraEntry);
    void showShotStarted(int shot);
    void showShotResult(int shot, const FaceTestAnalyser::Shot &result);
    void showShot(int shot, const QByteArray &png, bool faceDetected);
    void writeDebugPicture(const QByteArray &png) const;
    QString runNetworkTest();
    void runProbeTest(const QString &networkLine);
    void endSilentProbeTest();
    void endProbeTest(const QString &probeLine);
    void closeProbePort();
    void showStatus(const QString &networkLine, const QString &probeLine);

    Ui::NerovaSimpleTool *ui;
    QSettings *m_settings = nullptr;
    InstallPaths m_paths;
    QString m_loginUrl; // the server base followed directly by the login path
    QString m_loggerName;
    NerovaConfig m_config;
    int m_page = 0;
    bool m_closed = false;
    FaceTestAnalyser m_faceTest;
    // The face test's camera is opened, read and released on its thread.
    std::unique_ptr<FaceTestRun> m_faceRun;
    bool m_faceRunEnded = true;
    QList<CameraInfo> m_cameras; // entry k of cmbFaceDevice is camera k - 1
    QList<SerialPortEntry> m_ports; // entry k of cmbProbeDevice is port k - 1
    QSerialPort *m_serial = nullptr;
    QString m_probePort;
    QTimer *m_probeLimit = nullptr; // a probe that sends nothing fails after it
};
