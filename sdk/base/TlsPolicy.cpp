#include "TlsPolicy.h"

#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

namespace {

// A CA file holds a few certificates; anything larger is not one.
constexpr qint64 maxCaFileBytes = 1024 * 1024;

} // namespace

TlsPolicy TlsPolicy::relaxed()
{
    return TlsPolicy();
}

TlsPolicy TlsPolicy::storeServer(const QString &caFile)
{
    return caFile.isEmpty() ? relaxed() : pinned(caFile);
}

TlsPolicy TlsPolicy::cloud(bool verify, const QString &caFile)
{
    if (!verify)
        return relaxed();
    if (!caFile.isEmpty())
        return pinned(caFile);
    TlsPolicy policy;
    policy.m_verify = true;
    policy.m_systemCas = true;
    return policy;
}

TlsPolicy TlsPolicy::pinned(const QString &caFile)
{
    TlsPolicy policy;
    policy.m_verify = true;
    policy.m_cas = readCaFile(caFile, &policy.m_problem);
    return policy;
}

QList<QSslCertificate> TlsPolicy::readCaFile(const QString &path, QString *problem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *problem = QStringLiteral("CA file %1 cannot be read: %2").arg(path, file.errorString());
        return {};
    }
    const QByteArray pem = file.read(maxCaFileBytes + 1);
    if (pem.size() > maxCaFileBytes) {
        *problem = QStringLiteral("CA file %1 is larger than %2 bytes").arg(path).arg(maxCaFileBytes);
        return {};
    }
    const QList<QSslCertificate> certificates = QSslCertificate::fromData(pem, QSsl::Pem);
    if (certificates.isEmpty())
        *problem = QStringLiteral("CA file %1 holds no PEM certificate").arg(path);
    return certificates;
}

void TlsPolicy::applyTo(QNetworkRequest &request) const
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    // Not exactly TLS 1.0: current OpenSSL refuses it by default.
    tls.setProtocol(QSsl::TlsV1_0OrLater);
    if (!m_verify) {
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    } else {
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (!m_systemCas)
            tls.setCaCertificates(m_cas);
    }
    request.setSslConfiguration(tls);
}

void TlsPolicy::applyTo(QNetworkReply *reply) const
{
    if (!m_verify)
        reply->ignoreSslErrors();
}
