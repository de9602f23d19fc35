#pragma once
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTcpServer>

/// A loopback TLS listener whose certificate (self-signed, made with the openssl tool for this run) names
/// what the test asks for. It only completes handshakes: what a client does with the certificate is the test.
class TestTlsServer : public QTcpServer
{
public:
    /// p_Names: the certificate's subjectAltName, e.g. "IP:127.0.0.1" or "DNS:cdn.example.test".
    /// False with p_Why set when no certificate can be made here (no TLS in Qt, no openssl tool).
    bool Start(const QString& p_Folder, const QString& p_Names, QString* p_Why);
    QString Url(const QString& p_Path) const;

protected:
    void incomingConnection(qintptr p_Descriptor) override;

private:
    QSslKey m_Key;
    QSslCertificate m_Cert;
};
