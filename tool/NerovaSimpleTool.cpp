#include "NerovaSimpleTool.h"

#include "ui_nerovasimpletool.h"

#include "ConfigKeys.h"
#include "DeviceLists.h"
#include "EventWait.h"
#include "IniFileEditor.h"
#include "LogGroup.h"
#include "NerovaLog.h"
#include "NetworkTest.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QSerialPort>
#include <QSettings>
#include <QTextCodec>

namespace {

// Both message boxes; their texts are fixed Chinese texts, never translated.
const char kBoxStyle[] = "*{font-size: 14px;}";

} // namespace

NerovaSimpleTool::NerovaSimpleTool(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::NerovaSimpleTool)
    , m_serial(new QSerialPort(this))
{
    ui->setupUi(this);
    // File names handed to 8-bit interfaces (the cascade files) are in the
    // file system's encoding, UTF-8 on Linux.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    m_paths = InstallPaths::current();
    m_settings = new QSettings(m_paths.configFile, QSettings::IniFormat);
    readConfiguration();
    m_faceTest.load(m_paths.applicationDir);

    on_btnRefreshProbeDevice_clicked();
    on_btnFaceDeviceRefresh_clicked();

    ui->wgtTest->hide();
    setFixedSize(ui->wgtConfig->width() + 20,
                 ui->wgtConfig->height() + ui->btnNext->height() + 60);
    m_page = 0;
    m_shot = 0;
    ui->btnPrevious->hide();
    ui->btnTest->hide();
    connect(m_serial, SIGNAL(readyRead()), this, SLOT(TriggerSerialReadReady()));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint
                   | Qt::WindowCloseButtonHint);
    resetTestDisplay();
}

NerovaSimpleTool::~NerovaSimpleTool()
{
    delete ui;
    delete m_settings;
}

void NerovaSimpleTool::readConfiguration()
{
    m_config = NerovaConfig::read(*m_settings);
    m_loginUrl = NerovaConfig::textValue(m_settings->value(ConfigKeys::Server))
        + NerovaConfig::textValue(m_settings->value(ConfigKeys::LoginUrl));
    ui->edtCodeValue->setText(m_config.deviceId);
    m_settings->sync();
    const LogGroup log = LogGroup::read(*m_settings, m_paths.logDir);
    m_loggerName = log.loggerName;
    log.apply();
}

void NerovaSimpleTool::closeEvent(QCloseEvent *event)
{
    m_running = false;
    m_closed = true;
    if (m_serial->isOpen())
        m_serial->close();
    if (m_capture.isOpened())
        m_capture.release();
    QDialog::closeEvent(event);
}

// Escape and every other rejection take the road of the title bar's close;
// closeEvent itself ends in a rejection, which then only hides the window.
void NerovaSimpleTool::reject()
{
    if (m_closed)
        QDialog::reject();
    else
        close();
}

void NerovaSimpleTool::resetTestDisplay()
{
    for (QLabel *picture : {ui->lblPic1, ui->lblPic2, ui->lblPic3})
        picture->setPixmap(QPixmap());
    for (QLabel *verdict : {ui->lblRet1, ui->lblRet2, ui->lblRet3})
        verdict->setText(QObject::tr("Unknown"));
    showStatus(QObject::tr("Network: unknown"), QObject::tr("Probe: unknown"));
}

void NerovaSimpleTool::showStatus(const QString &networkLine, const QString &probeLine)
{
    ui->lblTest->setText(networkLine + "\n" + probeLine);
}

void NerovaSimpleTool::wait(int ms)
{
    EventWait::until([this] { return m_closed; }, ms);
}

// Pages and saving

void NerovaSimpleTool::on_btnNext_clicked()
{
    if (m_page == 1) {
        finish();
        return;
    }
    if (!confirmConfigPage())
        return;
    ++m_page;
    ui->wgtTest->setGeometry(ui->wgtConfig->geometry());
    ui->wgtConfig->hide();
    ui->wgtTest->show();
    ui->btnPrevious->show();
    ui->btnTest->show();
    ui->btnNext->setText(QObject::tr("Finish"));
}

void NerovaSimpleTool::on_btnPrevious_clicked()
{
    --m_page;
    ui->wgtConfig->show();
    ui->wgtTest->hide();
    ui->btnPrevious->hide();
    ui->btnTest->hide();
    ui->btnNext->setText(QObject::tr("Next"));
}

bool NerovaSimpleTool::confirmConfigPage()
{
    if (ui->edtCodeValue->text().trimmed().isEmpty()) {
        QMessageBox box(QMessageBox::Critical, QString::fromUtf8("错误"),
                        QString::fromUtf8("门店编号必须输入"), QMessageBox::Ok, this);
        box.setStyleSheet(kBoxStyle);
        box.button(QMessageBox::Ok)->setText(QString::fromUtf8("确定"));
        box.exec();
        return false;
    }
    if (ui->cmbFaceDevice->currentIndex() == 0 || ui->cmbProbeDevice->currentIndex() == 0) {
        QMessageBox box(QMessageBox::Critical, QString::fromUtf8("警告"),
                        QString::fromUtf8("未选择有效的人脸或探针设备，相关业务将不能运作，继续下一步吗"),
                        QMessageBox::Ok | QMessageBox::Cancel, this);
        box.setStyleSheet(kBoxStyle);
        box.button(QMessageBox::Ok)->setText(QString::fromUtf8("确定"));
        box.button(QMessageBox::Cancel)->setText(QString::fromUtf8("取消"));
        box.setEscapeButton(QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok;
    }
    return true;
}

void NerovaSimpleTool::finish()
{
    saveConfiguration();
    // Closing ends a running test the way the title bar's close does, and
    // the waits see it: nothing is sent or opened after Finish.
    close();
    QCoreApplication::exit(0);
}

// The three keys are set by editing the file's text: written through the
// settings object, the whole file would be rewritten without the
// installer's comments and with every other value re-spelled.
void NerovaSimpleTool::saveConfiguration()
{
    QFile current(m_paths.configFile);
    IniFileEditor editor(current.open(QIODevice::ReadOnly) ? current.readAll() : QByteArray());
    current.close();

    editor.setValue(ConfigKeys::DeviceId, ui->edtCodeValue->text());
    if (ui->cmbProbeDevice->currentIndex() > 0) {
        m_config.probeDevice = ui->cmbProbeDevice->currentData().toString();
        editor.setValue(ConfigKeys::ProbeDevice, m_config.probeDevice);
    }
    if (ui->cmbFaceDevice->currentIndex() > 0) {
        m_config.faceDevice = ui->cmbFaceDevice->currentData().toString();
        editor.setValue(ConfigKeys::FaceDevice, m_config.faceDevice);
    }

    QDir().mkpath(m_paths.configDir);
    QSaveFile file(m_paths.configFile);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(editor.text());
        file.commit();
    }
    m_settings->sync();
}

// Device lists

void NerovaSimpleTool::on_btnRefreshProbeDevice_clicked()
{
    m_ports = SerialPortList::available();
    DeviceLists::fillProbes(ui->cmbProbeDevice, m_ports, m_config.probeDevice);
}

void NerovaSimpleTool::on_btnFaceDeviceRefresh_clicked()
{
    m_cameras = CameraList::available();
    DeviceLists::fillCameras(ui->cmbFaceDevice, m_cameras, m_config.faceDevice);
}

// Tests

void NerovaSimpleTool::on_btnTest_clicked()
{
    if (ui->cmbFaceDevice->currentIndex() == 0)
        return;
    ui->btnTest->setEnabled(false);
    ui->btnTest->setText(QObject::tr("Testing"));
    resetTestDisplay();
    runFaceTest(ui->cmbFaceDevice->currentIndex());

    // A window closed during a test ends it: nothing more is sent or opened.
    if (!m_closed) {
        showStatus(QObject::tr("Network: testing"), QObject::tr("Probe: unknown"));
        const QString networkLine = runNetworkTest() ? QObject::tr("Network: success")
                                                     : QObject::tr("Network: failure");
        if (!m_closed)
            runProbeTest(networkLine);
    }

    ui->btnTest->setEnabled(true);
    ui->btnTest->setText(QObject::tr("Test"));
}

void NerovaSimpleTool::runFaceTest(int cameraEntry)
{
    // The camera of the entry itself, as listed when the list was built.
    if (cameraEntry < 1 || cameraEntry > m_cameras.size() || !m_capture.open(m_cameras[cameraEntry - 1]))
        return;
    cv::Mat discarded;
    m_capture.read(discarded);
    wait(100);
    m_capture.read(discarded);
    wait(100);

    m_shot = 0;
    m_running = !m_closed;
    while (m_running && m_shot < 3) {
        ++m_shot;
        takeShot(m_shot);
        if (m_running)
            wait(2000);
    }
    if (m_capture.isOpened())
        m_capture.release();
}

void NerovaSimpleTool::takeShot(int shot)
{
    QLabel *verdicts[] = {ui->lblRet1, ui->lblRet2, ui->lblRet3};
    verdicts[shot - 1]->setText(QObject::tr("Testing"));
    cv::Mat frame;
    if (!m_capture.read(frame) || frame.empty()) {
        if (m_capture.isOpened())
            m_capture.release();
        m_running = false;
        return;
    }
    const FaceTestAnalyser::Switches switches{m_config.faceLeftEye, m_config.faceRightEye, m_config.faceNose,
                                              m_config.faceMouth};
    const FaceTestAnalyser::Shot result = m_faceTest.analyse(frame, switches);
    if (!result.faceFound) {
        NerovaLog::trace(m_loggerName, "Tool: No face detected");
        if (m_config.debugMode)
            writeDebugPicture(result.png);
        showShot(shot, result.png, false);
        return;
    }
    if (result.hasLevels)
        NerovaLog::trace(m_loggerName, QString("Tool: rejectLevels(%1), levelWeights(%2)")
                                           .arg(result.rejectLevel)
                                           .arg(result.levelWeight));
    NerovaLog::trace(m_loggerName, QString("Tool: (%1) %2").arg(shot).arg(result.details));
    NerovaLog::trace(m_loggerName,
                     QString("Tool: (%1) %2, %3").arg(shot).arg(result.score).arg(m_config.faceThreshold));
    showShot(shot, result.png, result.score >= m_config.faceThreshold);
}

void NerovaSimpleTool::showShot(int shot, const QByteArray &png, bool faceDetected)
{
    QLabel *pictures[] = {ui->lblPic1, ui->lblPic2, ui->lblPic3};
    QLabel *verdicts[] = {ui->lblRet1, ui->lblRet2, ui->lblRet3};
    QPixmap picture;
    picture.loadFromData(png, "PNG");
    pictures[shot - 1]->setPixmap(picture);
    if (faceDetected)
        verdicts[shot - 1]->setText(QString("<span style=\"font-weight:600; color:blue;\">%1</span>")
                                        .arg(QObject::tr("Face detected")));
    else
        verdicts[shot - 1]->setText(QString("<span style=\"font-weight:600; color:#ff5500;\">%1</span>")
                                        .arg(QObject::tr("No face detected")));
}

// Written only where the debug directory exists; a failure is ignored.
void NerovaSimpleTool::writeDebugPicture(const QByteArray &png) const
{
    QFile file(QString("%1/debug/%2.no_face.png")
                   .arg(m_paths.applicationDir)
                   .arg(QDateTime::currentMSecsSinceEpoch()));
    if (file.open(QIODevice::WriteOnly))
        file.write(png);
}

bool NerovaSimpleTool::runNetworkTest()
{
    return NetworkTest::run(m_loginUrl, ui->edtCodeValue->text(), [this] { return m_closed; });
}

void NerovaSimpleTool::runProbeTest(const QString &networkLine)
{
    m_config.probeDevice = ui->cmbProbeDevice->currentData().toString();
    // The port of the entry itself: its shown text ends with "-" and the
    // port name, but a port name may hold a "-" of its own.
    const int entry = ui->cmbProbeDevice->currentIndex();
    m_probePort = entry > 0 && entry <= m_ports.size() ? m_ports[entry - 1].portName : QString();
    if (m_probePort.isEmpty()) {
        showStatus(networkLine, QObject::tr("Probe: no choice"));
        return;
    }
    m_serial->setPortName(m_probePort);
    if (!m_serial->open(QIODevice::ReadOnly)) {
        showStatus(networkLine, QObject::tr("Probe: failure"));
        return;
    }
    showStatus(networkLine, QObject::tr("Probe: testing"));
    m_serial->setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    m_serial->setDataBits(QSerialPort::Data8);
    m_serial->setParity(QSerialPort::NoParity);
    m_serial->setFlowControl(QSerialPort::NoFlowControl);
    m_serial->setStopBits(QSerialPort::OneStop);
}

void NerovaSimpleTool::TriggerSerialReadReady()
{
    m_serial->readAll();
    QString status = ui->lblTest->text();
    status.replace(QObject::tr("Probe: testing"), QObject::tr("Probe: success"));
    ui->lblTest->setText(status);
    m_serial->close();
}
