#include "NerovaSimpleTool.h"

#include "ui_nerovasimpletool.h"

#include "ConfigFileWriter.h"
#include "ConfigKeys.h"
#include "DebugPictures.h"
#include "DeviceLists.h"
#include "EventWait.h"
#include "IniFileEditor.h"
#include "LogFileAppender.h"
#include "LogGroup.h"
#include "NerovaLog.h"
#include "NetworkTest.h"
#include "VerifiedDirectory.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QSettings>
#include <QTextCodec>
#include <QTimer>
#include <QUrl>

namespace {

// Both message boxes; their texts are fixed Chinese texts, never translated.
const char kBoxStyle[] = "*{font-size: 14px;}";

// A probe device sends its lines every second or so.
constexpr int kProbeTestLimitMs = 10000;
// The face test's run ends by itself in a few seconds; this only bounds the
// wait should a camera read hang beyond its own time-out.
constexpr int kFaceTestGuardMs = 60000;

const QString kFaceDetectedStyle = QStringLiteral("<span style=\"font-weight:600; color:blue;\">%1</span>");
const QString kProblemStyle = QStringLiteral("<span style=\"font-weight:600; color:#ff5500;\">%1</span>");

QString featureName(CascadeSet::Feature feature)
{
    switch (feature) {
    case CascadeSet::McsLeftEye: return QString::fromUtf8("左眼");
    case CascadeSet::McsRightEye: return QString::fromUtf8("右眼");
    case CascadeSet::McsNose: return QString::fromUtf8("鼻子");
    case CascadeSet::McsMouth: return QString::fromUtf8("嘴巴");
    default: return CascadeSet::relativePath(feature);
    }
}

// One line fits between the pictures and the status lines.
const QString kCascadeProblemStyle = QStringLiteral("<span style=\"font-size:11px; color:#ff5500;\">%1</span>");

} // namespace

NerovaSimpleTool::NerovaSimpleTool(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::NerovaSimpleTool)
    , m_serial(new QSerialPort(this))
    , m_probeLimit(new QTimer(this))
{
    ui->setupUi(this);
    // File names handed to 8-bit interfaces (the cascade files) are in the
    // file system's encoding, UTF-8 on Linux.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));

    m_paths = InstallPaths::current();
    m_settings = new QSettings(m_paths.configFile, QSettings::IniFormat);
    readConfiguration();
    m_faceTest.load(m_paths.applicationDir);
    showCascadeProblems();

    on_btnRefreshProbeDevice_clicked();
    on_btnFaceDeviceRefresh_clicked();

    ui->wgtTest->hide();
    setFixedSize(ui->wgtConfig->width() + 20,
                 ui->wgtConfig->height() + ui->btnNext->height() + 60);
    m_page = 0;
    ui->btnPrevious->hide();
    ui->btnTest->hide();
    connect(m_serial, SIGNAL(readyRead()), this, SLOT(TriggerSerialReadReady()));
    m_probeLimit->setSingleShot(true);
    m_probeLimit->setInterval(kProbeTestLimitMs);
    connect(m_probeLimit, &QTimer::timeout, this, &NerovaSimpleTool::endSilentProbeTest);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint
                   | Qt::WindowCloseButtonHint);
    resetTestDisplay();
}

NerovaSimpleTool::~NerovaSimpleTool()
{
    m_faceRun.reset();
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
    // The installer runs the wizard, often as root: a log it must leave
    // alone does not hide what the wizard says, and it makes no file of
    // root's where everyone may write.
    LogFileAppender::setStandardErrorFallback(true);
    VerifiedDirectory::refuseRootWhereEveryoneWrites();
    log.apply();
}

void NerovaSimpleTool::closeEvent(QCloseEvent *event)
{
    m_closed = true;
    closeProbePort();
    if (m_faceRun)
        m_faceRun->stop();
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

void NerovaSimpleTool::showError(const QString &text)
{
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8("错误"), text, QMessageBox::Ok, this);
    box.setStyleSheet(kBoxStyle);
    box.button(QMessageBox::Ok)->setText(QString::fromUtf8("确定"));
    box.exec();
}

bool NerovaSimpleTool::confirmConfigPage()
{
    if (ui->edtCodeValue->text().trimmed().isEmpty()) {
        showError(QString::fromUtf8("门店编号必须输入"));
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

// A failed save keeps the window on the test page, so that the installer
// can put the cause right and press Finish again.
void NerovaSimpleTool::finish()
{
    if (!saveConfiguration())
        return;
    // Closing ends a running test the way the title bar's close does, and
    // the waits see it: nothing is sent or opened after Finish.
    close();
    QCoreApplication::exit(0);
}

// The three keys are set by editing the file's text: written through the
// settings object, the whole file would be rewritten without the
// installer's comments and with every other value re-spelled.
bool NerovaSimpleTool::saveConfiguration()
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

    const QString reason = ConfigFileWriter::write(m_paths.configFile, editor.text());
    m_settings->sync();
    if (reason.isEmpty())
        return true;
    NerovaLog::problem(m_loggerName, QString("Tool: Cannot save %1: %2").arg(m_paths.configFile, reason));
    showError(QString::fromUtf8("配置文件保存失败：%1\n%2\n请检查文件及其目录的写权限，然后再点击完成。")
                  .arg(m_paths.configFile, reason));
    return false;
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

// Without a camera the network and probe tests still run.
void NerovaSimpleTool::on_btnTest_clicked()
{
    ui->btnTest->setEnabled(false);
    ui->btnTest->setText(QObject::tr("Testing"));
    closeProbePort();
    resetTestDisplay();
    runFaceTest(ui->cmbFaceDevice->currentIndex());

    // A window closed during a test ends it: nothing more is sent or opened.
    if (!m_closed) {
        showStatus(QObject::tr("Network: testing"), QObject::tr("Probe: unknown"));
        const QString networkLine = runNetworkTest();
        if (!m_closed)
            runProbeTest(networkLine);
    }

    ui->btnTest->setEnabled(true);
    ui->btnTest->setText(QObject::tr("Test"));
}

FaceTestAnalyser::Switches NerovaSimpleTool::featureSwitches() const
{
    return {m_config.faceLeftEye, m_config.faceRightEye, m_config.faceNose, m_config.faceMouth};
}

// A fresh installation lacks the licensed feature cascades: the face test
// can then never pass, and the installer must not blame the camera. One
// line fits under the pictures; the files are in its tool tip and the log.
void NerovaSimpleTool::showCascadeProblems()
{
    for (const QString &refusal : m_faceTest.refusedCascades())
        NerovaLog::problem(m_loggerName, QString("Tool: cascade not loaded: %1").arg(refusal));
    QStringList files;
    const QString problems = cascadeProblems(files);
    ui->lblCascades->setText(problems.isEmpty() ? QString() : kCascadeProblemStyle.arg(problems));
    ui->lblCascades->setToolTip(files.join("\n"));
    ui->lblCascades->setVisible(!problems.isEmpty());
    if (problems.isEmpty())
        return;
    // The line's room comes from the margins above and below the pictures.
    const QMargins margins = ui->horizontalLayout_11->contentsMargins();
    ui->horizontalLayout_11->setContentsMargins(margins.left(), 0, margins.right(), 0);
    NerovaLog::problem(m_loggerName, QString("Tool: cascades missing below %1: %2. The face test cannot find what "
                                             "they find: supply the files, or switch those features off in %3")
                                         .arg(m_paths.applicationDir, files.join(", "), m_paths.configFile));
}

QString NerovaSimpleTool::cascadeProblems(QStringList &files) const
{
    QStringList problems;
    if (!m_faceTest.hasFaceCascade()) {
        problems << QString::fromUtf8("缺少人脸分类器，找不到人脸");
        files << QStringLiteral("data/haarcascades/haarcascade_frontalface_*.xml");
    }
    const FaceTestAnalyser::MissingFeatures missing = m_faceTest.missingFeatures(featureSwitches());
    if (missing.features.isEmpty())
        return problems.join(QString());
    QStringList names;
    for (const CascadeSet::Feature feature : missing.features) {
        names << featureName(feature);
        files << CascadeSet::relativePath(feature);
    }
    problems << QString::fromUtf8("缺少特征分类器：%1（最高 %2 分，阈值 %3）")
                    .arg(names.join(QString::fromUtf8("、")), QString::number(missing.bestScore),
                         QString::number(m_config.faceThreshold));
    return problems.join(QString::fromUtf8("；"));
}

void NerovaSimpleTool::runFaceTest(int cameraEntry)
{
    // The camera of the entry itself, as listed when the list was built.
    if (cameraEntry < 1 || cameraEntry > m_cameras.size())
        return;
    m_faceRun.reset();
    m_faceRun = std::make_unique<FaceTestRun>(m_faceTest, m_cameras[cameraEntry - 1], featureSwitches());
    connect(m_faceRun.get(), &FaceTestRun::shotStarted, this, &NerovaSimpleTool::showShotStarted);
    connect(m_faceRun.get(), &FaceTestRun::shotTaken, this, &NerovaSimpleTool::showShotResult);
    connect(m_faceRun.get(), &FaceTestRun::finished, this, [this] { m_faceRunEnded = true; });
    m_faceRunEnded = false;
    m_faceRun->start();
    EventWait::until([this] { return m_faceRunEnded || m_closed; }, kFaceTestGuardMs);
}

void NerovaSimpleTool::showShotStarted(int shot)
{
    QLabel *verdicts[] = {ui->lblRet1, ui->lblRet2, ui->lblRet3};
    verdicts[shot - 1]->setText(QObject::tr("Testing"));
}

void NerovaSimpleTool::showShotResult(int shot, const FaceTestAnalyser::Shot &result)
{
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
    verdicts[shot - 1]->setText(faceDetected ? kFaceDetectedStyle.arg(QObject::tr("Face detected"))
                                             : kProblemStyle.arg(QObject::tr("No face detected")));
}

// Written only where the debug directory exists; what is left alone there
// is said, as the wizard may run as root.
void NerovaSimpleTool::writeDebugPicture(const QByteArray &png) const
{
    const DebugPictures::Saved saved = DebugPictures::save(
        m_paths.debugDir, false, DebugPictures::Naming::Wizard, QDateTime::currentMSecsSinceEpoch(), png,
        DebugPictures::limits(m_config.debugKeepFiles, m_config.debugKeepMB));
    for (const QString &problem : saved.problems)
        NerovaLog::problem(m_loggerName, QString("Tool: debug picture: %1").arg(problem));
}

// The network line, with why a test failed.
QString NerovaSimpleTool::runNetworkTest()
{
    if (QUrl(m_loginUrl, QUrl::TolerantMode).host().isEmpty())
        return QObject::tr("Network: failure, no server address is configured (Server/Server in %1)")
            .arg(QStringLiteral("conf/default.ini"));
    NetworkTest::Setup setup;
    if (!m_config.serverCaFile.isEmpty())
        setup.caFile = QDir(m_paths.applicationDir).absoluteFilePath(m_config.serverCaFile);
    setup.loggerName = m_loggerName;
    const NetworkTest::Outcome outcome = NetworkTest::run(m_loginUrl, ui->edtCodeValue->text(),
                                                          [this] { return m_closed; }, NetworkTest::kTimeLimitMs, setup);
    if (outcome.success)
        return QObject::tr("Network: success");
    if (outcome.timedOut)
        return QObject::tr("Network: failure, no answer within %1 s").arg(NetworkTest::kTimeLimitMs / 1000);
    return QObject::tr("Network: failure, %1").arg(outcome.error);
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
    m_probeLimit->start();
    m_serial->setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    m_serial->setDataBits(QSerialPort::Data8);
    m_serial->setParity(QSerialPort::NoParity);
    m_serial->setFlowControl(QSerialPort::NoFlowControl);
    m_serial->setStopBits(QSerialPort::OneStop);
}

void NerovaSimpleTool::TriggerSerialReadReady()
{
    m_serial->readAll();
    endProbeTest(QObject::tr("Probe: success"));
}

// The port is released, so that a later test (or the library) can open it.
void NerovaSimpleTool::endSilentProbeTest()
{
    if (m_serial->isOpen())
        endProbeTest(QObject::tr("Probe: failure, no data within %1 s").arg(kProbeTestLimitMs / 1000));
}

// The probe line of a test under way becomes its result.
void NerovaSimpleTool::endProbeTest(const QString &probeLine)
{
    QString status = ui->lblTest->text();
    status.replace(QObject::tr("Probe: testing"), probeLine);
    ui->lblTest->setText(status);
    closeProbePort();
}

void NerovaSimpleTool::closeProbePort()
{
    m_probeLimit->stop();
    if (m_serial->isOpen())
        m_serial->close();
}
