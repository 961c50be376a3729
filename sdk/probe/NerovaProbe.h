#pragma once

#include "ProbeLineReader.h"
#include "ProbeRecordStore.h"

#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

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

public slots:
    void TriggerSerialReadReady();
    void TriggerCheckDevice();
    void TriggerReportProbe();
    void TriggerReplyFinished(QNetworkReply *reply);
    void TriggerSerialError(QSerialPort::SerialPortError serialPortError);

private:
    enum class Upload { Idle, Packing, Sending };

    void openLink(const SerialPortEntry &port);
    void closeLink();
    void startReports();
    void notifyLater(int code, const QString &text);
    void startUpload(bool takeNewRecords);
    void checkPacking();
    void packingFinished();
    void sendUpload();
    void finishUpload(const QString &failure);
    void logDropped(int records, const QString &where) const;
    void endUploadOnDestruction();

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
    // The packing runs on a thread of its own, joined once it has said it
    // is done (the host thread looks every few milliseconds meanwhile).
    std::thread m_packingThread;
    std::atomic<bool> m_packed{false};
    QTimer m_packingPoll;
};
