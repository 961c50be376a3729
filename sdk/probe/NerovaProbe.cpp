#include "NerovaProbe.h"

#include "NerovaBase.h"
#include "ProbeProtocol.h"
#include "ProbeUploadJob.h"
#include "SerialPortList.h"
#include "StoreRequest.h"
#include "TimerPeriod.h"
#include "nerova.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>

#include <algorithm>
#include <thread>

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

// A 4xx that speaks of the batch; a wrong address (404, 405) or a busy
// server (408, 429) would set every batch aside in turn.
bool isRefusalStatus(int status)
{
    return status >= 400 && status <= 499 && status != 404 && status != 405 && status != 408 && status != 429;
}

// What the installer must hear of, where a host may not show the log.
void reportError(const QString &text)
{
    base().logProblem(text);
}

} // namespace

NerovaProbe::NerovaProbe()
    : m_records(base().dataDir(), ProbeRecordStore::Limits(), reportError)
    , m_networkManager(new QNetworkAccessManager(this))
    , m_requestTimeoutMs(StoreRequest::defaultTimeoutMs)
{
    connect(&m_checkTimer, &QTimer::timeout, this, &NerovaProbe::TriggerCheckDevice);
    connect(&m_serialPort, &QSerialPort::readyRead, this, &NerovaProbe::TriggerSerialReadReady);
    connect(&m_serialPort, &QSerialPort::errorOccurred, this, &NerovaProbe::TriggerSerialError);
    connect(&m_reportTimer, &QTimer::timeout, this, &NerovaProbe::TriggerReportProbe);
    connect(m_networkManager, &QNetworkAccessManager::finished, this, &NerovaProbe::TriggerReplyFinished);
    connect(&m_packingPoll, &QTimer::timeout, this, [this] { m_records.collect(); });
    if (!m_records.ownsDataDir())
        notifyLater(NV_NOTIFY_PROBE_ERROR,
                    tr("Probe records are kept in memory only: %1").arg(m_records.ownerProblem()));
}

// Every record read is in the journal already; an upload whose answer is
// on its way gets a short wait, so that an accepted batch is not sent again
// at the next start. The store keeps what is left.
NerovaProbe::~NerovaProbe()
{
    m_ending = true;
    m_serialPort.disconnect(this);
    m_packingPoll.stop();
    if (!m_answerAwaited)
        awaitAnswer(QDeadlineTimer(answerWaitMs));
    m_networkManager->disconnect(this);
}

void NerovaProbe::EndUploads(const QDeadlineTimer &deadline)
{
    m_answerAwaited = true;
    awaitAnswer(deadline);
}

// The answer comes through events posted to the reply by the network
// thread: those alone are delivered here, so no host code runs inside.
void NerovaProbe::awaitAnswer(const QDeadlineTimer &deadline)
{
    if (m_upload != Upload::Sending || !m_lastReply)
        return;
    QNetworkReply *reply = m_lastReply;
    while (m_lastReply == reply && !reply->isFinished() && !deadline.hasExpired()) {
        QCoreApplication::sendPostedEvents(reply, 0);
        if (m_lastReply == reply && !reply->isFinished())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (m_lastReply == reply && !reply->isFinished())
        base().logInfo(tr("Probe upload ended without its answer: its batch is sent again at the next start"));
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

// Every line the device completes becomes a record in the journal; an
// incomplete line waits in the line reader.
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
// comes inside open(), before the port counts as open. A failed open is
// one notice and one ERROR line, though Qt signals it inside open() too.
void NerovaProbe::openLink(const SerialPortEntry &port)
{
    m_serialPort.setPortName(port.systemLocation);
    m_opening = true;
    const bool opened = m_serialPort.open(QIODevice::ReadOnly);
    m_opening = false;
    if (!opened) {
        const QString text = m_serialPort.errorString();
        notifyLater(NV_NOTIFY_PROBE_ERROR, text);
        base().logError(tr("Probe device error: %1, %2").arg(static_cast<int>(m_serialPort.error())).arg(text));
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
    if (m_opening)
        return;
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
        reportError(tr("Probe records dropped, %1: %2").arg(reason).arg(records));
}

// At an interval the journal becomes a batch; the oldest batch held goes
// out.
void NerovaProbe::TriggerReportProbe()
{
    m_records.collect();
    logDropped(m_records.cut(), tr("over the disk limit"));
    if (m_upload == Upload::Idle)
        startUpload();
}

// One upload at a time. The batch is read, archived and put in a body on
// the store's disk worker, after any file work asked for before it.
void NerovaProbe::startUpload()
{
    if (m_ending || m_upload != Upload::Idle || !m_records.hasBatches())
        return;
    const std::shared_ptr<ProbeUploadJob> job = m_records.uploadOfOldest(base().config()->deviceId);
    m_job = job;
    m_jobSequence = m_records.oldest().sequence;
    m_upload = Upload::Packing;
    m_records.disk().post(ProbeDiskWorker::Task([this, job] {
        job->run();
        return ProbeDiskWorker::Continuation([this] { packingFinished(); });
    }));
    m_packingPoll.start(packingPollMs);
}

// Later, from the event loop: a long run of batches that cannot go out
// does not recurse.
void NerovaProbe::startUploadLater()
{
    QMetaObject::invokeMethod(this, [this] { startUpload(); }, Qt::QueuedConnection);
}

// The batch may have been dropped meanwhile (over a bound).
bool NerovaProbe::isUploadedBatchOldest() const
{
    return m_records.hasBatches() && m_records.oldest().sequence == m_jobSequence;
}

void NerovaProbe::packingFinished()
{
    m_packingPoll.stop();
    for (const QString &path : m_job->unwritten)
        base().logInfo(tr("Failed to open file %1 when report probe data").arg(path));
    for (const QString &problem : m_job->problems)
        reportError(problem);
    switch (m_job->outcome) {
    case ProbeUploadJob::Outcome::Ready:
        sendUpload();
        return;
    case ProbeUploadJob::Outcome::Missing:
        dropUploadedBatch(tr("their batch file is gone"));
        break;
    case ProbeUploadJob::Outcome::Foreign:
        dropUploadedBatch(tr("their batch file was replaced by one that is not this library's"));
        break;
    case ProbeUploadJob::Outcome::NoWholeRecord:
        // After the pieces sent, only a cut record is left.
        if (m_job->offset > 0 && isUploadedBatchOldest()) {
            reportError(tr("Probe batch ended in a cut record, dropped: 1 (%1 bytes)").arg(m_job->bytes));
            m_records.removeOldest();
        } else {
            setAsideUploadedBatch(tr("holds no whole record (%1 bytes)").arg(m_job->bytes),
                                  ProbeRecordStore::Folder::Refused);
        }
        break;
    case ProbeUploadJob::Outcome::RecordTooLong:
        setAsideUploadedBatch(tr("holds a record longer than an upload may carry (%1 bytes)").arg(m_records.limits().batch),
                              ProbeRecordStore::Folder::Oversized);
        break;
    case ProbeUploadJob::Outcome::Failed:
        base().logInfo(tr("Failed to open file %1 when report probe data").arg(m_job->archiveName));
        m_job.reset();
        m_upload = Upload::Idle;
        return;
    }
    m_job.reset();
    m_upload = Upload::Idle;
    startUploadLater();
}

void NerovaProbe::setAsideUploadedBatch(const QString &reason, ProbeRecordStore::Folder folder)
{
    if (!isUploadedBatchOldest())
        return;
    m_records.setAsideOldest(reason, folder);
    notifySetAside(reason);
}

void NerovaProbe::dropUploadedBatch(const QString &reason)
{
    if (!isUploadedBatchOldest())
        return;
    logDropped(m_records.oldest().records.value_or(0), reason);
    m_records.forgetOldest();
}

void NerovaProbe::notifySetAside(const QString &reason)
{
    notifyLater(NV_NOTIFY_PROBE_ERROR, tr("Probe batch %1, moved aside under %2 for an operator; later batches go on")
                                           .arg(reason, m_records.dataDir()));
}

void NerovaProbe::sendUpload()
{
    const QString url = base().config()->probeUrl;
    base().logTrace(tr("Probe url: %1, mac: %2").arg(url, m_job->storeNumber));
    const QNetworkRequest request
        = StoreRequest::make(url, m_requestTimeoutMs, StoreRequest::tlsFor(StoreRequest::Peer::StoreServer));
    m_lastReply = StoreRequest::post(*m_networkManager, request, m_job->body);
    m_job->body.clear();
    m_upload = Upload::Sending;
    // The batch itself stays until accepted.
    m_records.removeWorkingFiles(*m_job);
}

// Only an answer with "state" 0 takes the records off the disk; a server
// that turns them down (a non-zero state, most of HTTP 4xx) has refused
// them, while a network failure or a broken server (5xx, no state) has not.
NerovaProbe::Verdict NerovaProbe::verdictOf(QNetworkReply *reply, QString *failure) const
{
    const ProbeProtocol::Answer answer = ProbeProtocol::answer(StoreRequest::answerBody(reply));
    base().logTrace(tr("Report probe data: %1, %2").arg(answer.state).arg(answer.msg));
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (isRefusalStatus(status)) {
        *failure = QStringLiteral("HTTP status %1").arg(status);
        return Verdict::Refused;
    }
    if (StoreRequest::errorNumber(reply) != QNetworkReply::NoError) {
        *failure = StoreRequest::errorText(reply);
        return Verdict::Failed;
    }
    if (status < 200 || status > 299) {
        *failure = QStringLiteral("HTTP status %1").arg(status);
        return Verdict::Failed;
    }
    if (answer.accepted)
        return Verdict::Accepted;
    *failure = QStringLiteral("state %1, %2").arg(answer.state).arg(answer.msg);
    return answer.refused ? Verdict::Refused : Verdict::Failed;
}

void NerovaProbe::TriggerReplyFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply != m_lastReply)
        return;
    m_lastReply = nullptr;
    QString failure;
    const Verdict verdict = verdictOf(reply, &failure);
    finishUpload(verdict, failure);
}

void NerovaProbe::finishUpload(Verdict verdict, const QString &failure)
{
    const std::shared_ptr<ProbeUploadJob> job = std::move(m_job);
    m_upload = Upload::Idle;
    m_records.collect();
    if (!failure.isEmpty())
        base().logInfo(tr("Probe data kept for the next upload: %1").arg(failure));
    if (!isUploadedBatchOldest())
        return;
    bool goOn = false;
    if (verdict == Verdict::Accepted) {
        if (job)
            m_records.acceptOldest(*job);
        else
            m_records.removeOldest();
        goOn = true;
    } else if (verdict == Verdict::Refused && m_records.refuseOldest()) {
        notifySetAside(tr("refused by the server %1 times in a row").arg(m_records.limits().refusals));
        goOn = true;
    }
    // Batches held from earlier (and the next piece of a batch larger than
    // one upload) go out without waiting for the next interval; records read since this one started wait for it, or a
    // steady stream of lines would keep an upload going all the time.
    if (goOn && m_reportTimer.isActive())
        startUpload();
}
