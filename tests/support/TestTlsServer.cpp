#include "TestTlsServer.h"

#include <QFile>
#include <QProcess>
#include <QSslSocket>
#include <QStandardPaths>

bool TestTlsServer::Start(const QString& p_Folder, const QString& p_Names, QString* p_Why)
{
    if (!QSslSocket::supportsSsl())
        return *p_Why = "no TLS support in this Qt", false;
#ifdef Q_OS_WIN
    return *p_Why = "no openssl program on Windows: no certificate can be made for the test server", false;
#endif
    const QString l_Openssl = QStandardPaths::findExecutable("openssl");
    if (l_Openssl.isEmpty())
        return *p_Why = "the openssl tool is not installed: no certificate can be made for the test server", false;
    const QString l_KeyPath = p_Folder + "/tls-key.pem", l_CertPath = p_Folder + "/tls-cert.pem";
    QProcess l_Make;
    l_Make.start(l_Openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", l_KeyPath, "-out", l_CertPath,
                             "-days", "1", "-subj", "/CN=kestrun test", "-addext", "subjectAltName=" + p_Names});
    if (!l_Make.waitForFinished(60000) || l_Make.exitCode() != 0)
        return *p_Why = "openssl could not make a certificate: " + QString::fromLocal8Bit(l_Make.readAllStandardError()),
               false;
    QFile l_Key(l_KeyPath), l_Cert(l_CertPath);
    if (!l_Key.open(QIODevice::ReadOnly) || !l_Cert.open(QIODevice::ReadOnly))
        return *p_Why = "the certificate files cannot be read", false;
    m_Key = QSslKey(&l_Key, QSsl::Rsa);
    m_Cert = QSslCertificate(&l_Cert);
    if (m_Key.isNull() || m_Cert.isNull())
        return *p_Why = "the certificate files do not load", false;
    if (!listen(QHostAddress::LocalHost))
        return *p_Why = "no port", false;
    return true;
}

QString TestTlsServer::Url(const QString& p_Path) const
{
    return QString("https://127.0.0.1:%1/%2").arg(serverPort()).arg(p_Path);
}

void TestTlsServer::incomingConnection(qintptr p_Descriptor)
{
    auto* l_Socket = new QSslSocket(this);
    l_Socket->setSocketDescriptor(p_Descriptor);
    l_Socket->setPrivateKey(m_Key);
    l_Socket->setLocalCertificate(m_Cert);
    l_Socket->startServerEncryption();
}
