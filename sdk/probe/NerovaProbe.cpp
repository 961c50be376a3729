#include "NerovaProbe.h"

#include "NerovaBase.h"
#include "ProbeProtocol.h"
#include "ProbeUploadJob.h"
#include "SerialPortList.h"
#include "StoreRequest.h"
#include "TimerPeriod.h"
#include "nerova.h"

#include <QDateTime>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <algorithm>

namespace {

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// An upload period of 0 would upload whenever the event loop is idle.
constexpr int shortestReportPeriodMs = 1000;
constexpr int packingPollMs = 5;

NerovaBase &base()
{
    return *NerovaBase::instance();
}

} // namespace

NerovaProbe::NerovaProbe()
    : m_records(base().dataDir())
    , m_networkManager(new QNetworkAccessManager(this))
    , m_requestTimeoutMs(StoreRequest::defaultTimeoutMs)
{
    connect(&m_checkTimer, &QTimer::timeout, this, &NerovaProbe::TriggerCheckDevice);
    connect(&m_serialPort, &QSerialPort::readyRead, this, &NerovaProbe::TriggerSerialReadReady);
    connect(&m_serialPort, &QSerialPort::errorOccurred, this, &NerovaProbe::TriggerSerialError);
    connect(&m_reportTimer, &QTimer::timeout, this, &NerovaProbe::TriggerReportProbe);
    connect(m_networkManager, &QNetworkAccessManager::finished, this, &NerovaProbe::TriggerReplyFinished);
    connect(&m_packingPoll, &QTimer::timeout, this, &NerovaProbe::checkPacking);
    m_records.removeStaleArchives();
}

// Records not yet accepted stay in the data directory for the next run:
// the batch of an upload still under way, and those still in memory.
NerovaProbe::~NerovaProbe()
{
    m_networkManager->disconnect(this);
    m_serialPort.disconnect(this);
    if (m_packingThread.joinable())
        m_packingThread.join();
    endUploadOnDestruction();
    logDropped(m_records.flushMemory(now()), tr("they could not be kept"));
}

void NerovaProbe::Start()
{
    TriggerCheckDevice();
    m_checkTimer.start(base().config()->deviceCheckPeriodMs());
}

void NerovaProbe::Stop()
{
    m_reportTimer.stop();
    m_checkTimer.stop();
    closeLink();
}

// Every line the device completes becomes a record; an incomplete line
// waits in the line reader.
void NerovaProbe::TriggerSerialReadReady()
{
    const ProbeLineReader::Result read = m_lineReader.feed(m_serialPort.readAll(), now());
    if (read.droppedLines > 0)
        base().logError(tr("Probe lines longer than %1 bytes dropped: %2")
                            .arg(ProbeLineReader::defaultMaxLineBytes)
                            .arg(read.droppedLines));
    if (!read.records.isEmpty())
        logDropped(m_records.append(read.records), tr("over the memory limit"));
}

void NerovaProbe::TriggerCheckDevice()
{
    const auto config = base().config();
    if (!config->probeEnabled) {
        m_reportTimer.stop();
        closeLink();
        return;
    }
    if (!m_serialPort.isOpen()) {
        const QList<SerialPortEntry> ports = SerialPortList::available();
        const auto port = std::find_if(ports.begin(), ports.end(), [&](const SerialPortEntry &entry) {
            return entry.probeDeviceIdentifier().compare(config->probeDevice, Qt::CaseInsensitive) == 0;
        });
        if (port == ports.end()) {
            notifyLater(NV_NOTIFY_PROBE_ERROR, m_serialPort.errorString());
            base().logInfo(tr("Probe device not found: %1").arg(config->probeDevice));
            return;
        }
        base().logInfo(tr("Probe device found: %1, %2").arg(port->portName, config->probeDevice));
        openLink(*port);
        if (!m_serialPort.isOpen())
            return;
    }
    startReports();
}

// Ready once the port is open and set up: the port's own no-error signal
// comes inside open(), before the port counts as open.
void NerovaProbe::openLink(const SerialPortEntry &port)
{
    m_serialPort.setPortName(port.systemLocation);
    if (!m_serialPort.open(QIODevice::ReadOnly)) {
        notifyLater(NV_NOTIFY_PROBE_ERROR, m_serialPort.errorString());
        return;
    }
    m_serialPort.setBaudRate(QSerialPort::Baud115200, QSerialPort::AllDirections);
    m_serialPort.setDataBits(QSerialPort::Data8);
    m_serialPort.setParity(QSerialPort::NoParity);
    m_serialPort.setFlowControl(QSerialPort::NoFlowControl);
    m_serialPort.setStopBits(QSerialPort::OneStop);
    notifyLater(NV_NOTIFY_PROBE_READY, tr("Probe device is ready"));
}

// Closing drops the incomplete line: bytes that come after a reopen would
// otherwise be merged into it.
void NerovaProbe::closeLink()
{
    if (m_serialPort.isOpen())
        m_serialPort.close();
    m_lineReader.clear();
}

void NerovaProbe::startReports()
{
    if (!m_reportTimer.isActive())
        m_reportTimer.start(timerPeriodMs(base().config()->probeInterval, shortestReportPeriodMs));
}

// A link error loses only the incomplete line; the records stay.
void NerovaProbe::TriggerSerialError(QSerialPort::SerialPortError serialPortError)
{
    if (serialPortError == QSerialPort::NoError) {
        if (m_serialPort.isOpen())
            notifyLater(NV_NOTIFY_PROBE_READY, tr("Probe device is ready"));
        return;
    }
    const QString text = m_serialPort.errorString();
    m_reportTimer.stop();
    closeLink();
    notifyLater(NV_NOTIFY_PROBE_ERROR, text);
    base().logError(tr("Probe device error: %1, %2").arg(static_cast<int>(serialPortError)).arg(text));
}

// The host's callback runs from the event loop, as the last thing done
// with this object; a notice still queued when the object goes is dropped.
void NerovaProbe::notifyLater(int code, const QString &text)
{
    QMetaObject::invokeMethod(
        this, [code, text] { NerovaBase::instance()->notifyCallback(code, text); }, Qt::QueuedConnection);
}

void NerovaProbe::logDropped(int records, const QString &reason) const
{
    if (records > 0)
        base().logError(tr("Probe records dropped, %1: %2").arg(reason).arg(records));
}

void NerovaProbe::TriggerReportProbe()
{
    if (m_upload == Upload::Idle)
        startUpload(true);
}

// One upload at a time. At an interval the records in memory become a batch
// on disk; the oldest batch held goes out. The files and the body are made
// on the packing thread.
void NerovaProbe::startUpload(bool takeNewRecords)
{
    auto job = std::make_shared<ProbeUploadJob>();
    if (takeNewRecords && !m_records.memory().isEmpty()) {
        job->newBatchPath = m_records.newCsvPath(now());
        job->records = m_records.takeMemory();
    }
    const QStringList held = m_records.heldFiles();
    job->csvPath = held.isEmpty() ? job->newBatchPath : held.first();
    if (job->csvPath.isEmpty())
        return;
    job->archivePath = ProbeRecordStore::archivePathFor(job->csvPath);
    job->storeNumber = base().config()->deviceId;
    job->store = &m_records;
    m_job = job;
    m_upload = Upload::Packing;
    m_packed = false;
    m_packingThread = std::thread([this, job] {
        job->run();
        m_packed = true;
    });
    m_packingPoll.start(packingPollMs);
}

void NerovaProbe::checkPacking()
{
    if (!m_packed)
        return;
    m_packingPoll.stop();
    m_packingThread.join();
    packingFinished();
}

void NerovaProbe::packingFinished()
{
    logDropped(m_job->droppedRecords, tr("over the disk limit"));
    switch (m_job->outcome) {
    case ProbeUploadJob::Outcome::CsvFailed:
        base().logInfo(tr("Failed to open file %1 when report probe data").arg(m_job->newBatchPath));
        logDropped(m_records.restore(m_job->records), tr("over the memory limit"));
        break;
    case ProbeUploadJob::Outcome::ArchiveFailed:
        base().logInfo(tr("Failed to open file %1 when report probe data").arg(m_job->archivePath));
        break;
    case ProbeUploadJob::Outcome::Ready:
        sendUpload();
        return;
    }
    m_job.reset();
    m_upload = Upload::Idle;
}

void NerovaProbe::sendUpload()
{
    const QString url = base().config()->probeUrl;
    base().logTrace(tr("Probe url: %1, mac: %2").arg(url, m_job->storeNumber));
    QNetworkRequest request = StoreRequest::make(url, m_requestTimeoutMs);
    if (url.startsWith(QLatin1String("https"), Qt::CaseInsensitive))
        StoreRequest::relaxTls(request);
    m_lastReply = StoreRequest::post(*m_networkManager, request, m_job->body);
    m_job->body.clear();
    m_upload = Upload::Sending;
}

// Only an answer with "state" 0 takes the records off the disk.
void NerovaProbe::TriggerReplyFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != m_lastReply)
        return;
    m_lastReply = nullptr;
    const ProbeProtocol::Answer answer = ProbeProtocol::answer(StoreRequest::answerBody(reply));
    base().logTrace(tr("Report probe data: %1, %2").arg(answer.state).arg(answer.msg));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QString failure;
    if (StoreRequest::errorNumber(reply) != QNetworkReply::NoError)
        failure = StoreRequest::errorText(reply);
    else if (status < 200 || status > 299)
        failure = QStringLiteral("HTTP status %1").arg(status);
    else if (!answer.accepted)
        failure = QStringLiteral("state %1, %2").arg(answer.state).arg(answer.msg);
    finishUpload(failure);
}

void NerovaProbe::finishUpload(const QString &failure)
{
    QFile::remove(m_job->archivePath);
    if (failure.isEmpty())
        QFile::remove(m_job->csvPath);
    else
        base().logInfo(tr("Probe data kept for the next upload: %1").arg(failure));
    m_job.reset();
    m_upload = Upload::Idle;
    // Batches held from earlier go out without waiting for the next
    // interval; records read since this one started wait for it, or a
    // steady stream of lines would keep an upload going all the time.
    if (failure.isEmpty() && m_reportTimer.isActive() && !m_records.heldFiles().isEmpty())
        startUpload(false);
}

void NerovaProbe::endUploadOnDestruction()
{
    if (!m_job)
        return;
    if (m_upload == Upload::Packing && m_job->outcome == ProbeUploadJob::Outcome::CsvFailed)
        m_records.restore(m_job->records);
    QFile::remove(m_job->archivePath);
}
