#pragma once

#include "ProbeLineReader.h"
#include "ProbeRecordStore.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
struct ProbeUploadJob;
struct SerialPortEntry;

// The probe worker: finds the configured probe device among the serial
// ports, keeps the link open, turns its lines into time-stamped records
// and uploads them to the store server every Probe/ProbeInterval seconds.
//
// It lives on the host thread. Settings are read from the worker base at
// every use. Host notifications are posted to this object and sent from
// the event loop, never from inside Start() or a serial port signal, so a
// host may end the library from inside the callback.
class NerovaProbe : public QObject
{
    Q_OBJECT
public:
    NerovaProbe();
    ~NerovaProbe() override;

    void Start();
    void Stop();

    // The transfer time-out of an upload (30 s unless set).
    void setRequestTimeout(int milliseconds) { m_requestTimeoutMs = milliseconds; }

    // How long the end waits for the answer to an upload under way, unless
    // EndUploads() has waited already.
    static constexpr int answerWaitMs = 3000;
    // Lets the answer to an upload under way come in until the deadline.
    void EndUploads(const QDeadlineTimer &deadline);

public slots:
    void TriggerSerialReadReady();
    void TriggerCheckDevice();
    void TriggerReportProbe();
    void TriggerReplyFinished(QNetworkReply *reply);
    void TriggerSerialError(QSerialPort::SerialPortError serialPortError);

private:
    enum class Upload { Idle, Packing, Sending };
    enum class Verdict { Accepted, Refused, Failed };

    void openLink(const SerialPortEntry &port);
    void closeLink();
    void startReports();
    void notifyLater(int code, const QString &text);
    void startUpload();
    void startUploadLater();
    void packingFinished();
    void sendUpload();
    bool isUploadedBatchOldest() const;
    Verdict verdictOf(QNetworkReply *reply, QString *failure) const;
    void finishUpload(Verdict verdict, const QString &failure);
    void setAsideUploadedBatch(const QString &reason, ProbeRecordStore::Folder folder);
    void dropUploadedBatch(const QString &reason);
    void notifySetAside(const QString &reason);
    void logDropped(int records, const QString &where) const;
    void awaitAnswer(const QDeadlineTimer &deadline);

    ProbeLineReader m_lineReader;
    ProbeRecordStore m_records;
    QTimer m_reportTimer;
    QTimer m_checkTimer;
    QSerialPort m_serialPort;
    QNetworkAccessManager *m_networkManager;
    QNetworkReply *m_lastReply = nullptr;
    int m_requestTimeoutMs;
    Upload m_upload = Upload::Idle;
    std::shared_ptr<ProbeUploadJob> m_job;
    qint64 m_jobSequence = -1;
    // The packing runs on the store's disk worker; the host thread looks
    // for its end every few milliseconds meanwhile.
    QTimer m_packingPoll;
    // Qt reports a failed open() through the error signal inside it: the
    // check that opens reports it once.
    bool m_opening = false;
    bool m_ending = false;
    bool m_answerAwaited = false;
};
