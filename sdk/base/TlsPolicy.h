#pragma once

#include <QList>
#include <QSslCertificate>
#include <QString>

class QNetworkReply;
class QNetworkRequest;

// How a request checks its server's certificate. The store server's
// self-signed certificates are accepted unless a CA is pinned for it; the
// cloud service's certificate is verified against the system's CAs, or
// against a CA file that replaces them. A CA file that cannot be read
// leaves a policy that trusts nothing, so its requests fail.
class TlsPolicy
{
public:
    // No verification, TLS 1.0 or later: the store server as it always was.
    static TlsPolicy relaxed();
    // The store server: relaxed, or verified against caFile alone when set.
    static TlsPolicy storeServer(const QString &caFile);
    // The cloud: verified against the system's CAs, or against caFile alone
    // when set; relaxed when verify is false.
    static TlsPolicy cloud(bool verify, const QString &caFile);

    // Why the CA file could not be used; empty when it could.
    QString problem() const { return m_problem; }
    bool verifies() const { return m_verify; }

    void applyTo(QNetworkRequest &request) const;
    // What the reply may ignore: every TLS error, unless the policy verifies.
    void applyTo(QNetworkReply *reply) const;

    // The CA file's certificates (PEM); problem, when given, says why none.
    static QList<QSslCertificate> readCaFile(const QString &path, QString *problem);

private:
    static TlsPolicy pinned(const QString &caFile);

    bool m_verify = false;
    bool m_systemCas = false;
    QList<QSslCertificate> m_cas;
    QString m_problem;
};
