#include "casc/CASCBaseVerifier.h"

#include "casc/CASCApplication.h"
#include "casc/CASCHttpGet.h"
#include "casc/CASCIndexFile.h"
#include "casc/CASCKey.h"
#include "platform/QtCompat.h"
#include "net/ModuleNetwork.h"
#include "casc/CASCVersion.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QCryptographicHash>
#include <QThread>
#include <QUrl>

namespace Orvane {
namespace CASC {

namespace {

int HttpStatus(QNetworkReply* p_Reply)
{
    return p_Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

// An archive index ends with a 28-byte footer whose last 8 bytes are the MD5 of its bytes 8
// to 20 followed by 8 zeros.
constexpr int FooterSize = 28;

bool FooterHolds(const QByteArray& p_Index)
{
    if (p_Index.size() < FooterSize)
        return false;
    const QByteArray l_Footer = p_Index.right(FooterSize);
    return QCryptographicHash::hash(l_Footer.mid(8, 12) + QByteArray(8, '\0'), QCryptographicHash::Md5).left(8) ==
           l_Footer.mid(20, 8);
}

} // namespace

CASCBaseVerifier::CASCBaseVerifier(CASCApplication* p_Owner) : m_Owner(p_Owner), m_Transfer(new Transfer) {}

CASCBaseVerifier::~CASCBaseVerifier()
{
    // The replies go with their manager; a partial download stays under its ".part" name.
    CASCHttpGet::Release(m_NetworkManager);
}

QString CASCBaseVerifier::ErrorMessage(int p_Code, const QString& p_Url)
{
    if (p_Code == QNetworkReply::RemoteHostClosedError)
        return "Error RemoteHostClosedError for file : " + p_Url;
    if (p_Code == QNetworkReply::UnknownContentError)
        return "Error UnknownContentError for file : " + p_Url;
    return "QtHttp error " + QString::number(p_Code) + " when retrieving file " + p_Url;
}

void CASCBaseVerifier::Scan()
{
    m_Missing.clear();
    m_Held = nullptr;
    m_ScanFailed = m_SizeFailed = false;
    CASCHttpGet::Abandon(m_NetworkManager);
    m_NetworkManager = Launcher::ModuleNetwork::NewManager(nullptr);
    m_NetworkManager->moveToThread(QThread::currentThread());

    const int l_Region = m_Owner->GetRegion();
    const CASCVersionEntry& l_Entry = m_Owner->GetVersionInfo(l_Region);
    const CASCVersion* l_Version = m_Owner->GetVersion();
    const CASCCdnEntry* l_Cdn = m_Owner->GetRandomCDN(l_Region); // one host for the whole list
    if (!l_Cdn || !l_Version)
    {
        m_ScanFailed = true;
        m_Owner->RaiseError(Errors::Network, "CASCBaseVerifier::Scan(): no CDN configuration for world region " +
                                                 QString::number(l_Region));
        return;
    }
    Check(*l_Cdn, l_Entry._CdnConfig, "config");
    Check(*l_Cdn, l_Entry._BuildConfig, "config");
    // A build without a patch configuration has none to fetch.
    if (!l_Version->GetBuildConfig()._PatchConfig.isEmpty())
        Check(*l_Cdn, l_Version->GetBuildConfig()._PatchConfig, "config");
    for (const QString& l_Archive : l_Version->GetCDNConfig()._Archives)
        Check(*l_Cdn, l_Archive, "data");
    for (const QString& l_Archive : l_Version->GetCDNConfig()._PatchArchives)
        Check(*l_Cdn, l_Archive, "patch");
    if (m_ScanFailed)
        m_Missing.clear();
}

void CASCBaseVerifier::Check(const CASCCdnEntry& p_Cdn, const QString& p_Key, const QString& p_Kind)
{
    if (m_ScanFailed)
        return;
    // Keys come from the CDN: anything but a digest could name a path outside the installation.
    if (!CASCKey::IsKey(p_Key))
    {
        m_ScanFailed = true;
        m_Owner->RaiseError(Errors::EncodingFile, "CASCBaseVerifier::Scan(): invalid key \"" + p_Key + "\" in the configuration");
        return;
    }
    const QString l_Keyed = p_Key.left(2) + "/" + p_Key.mid(2, 2) + "/" + p_Key;
    const bool l_Config = p_Kind == "config";
    const QString l_Path = m_Owner->GetInstallFolder() +
                           (l_Config ? "data/config/" + l_Keyed : "data/indices/" + p_Key + ".index");
    const QString l_Url = "http://" + p_Cdn._Host + "/" + p_Cdn._Path + "/" + p_Kind + "/" + l_Keyed +
                          (l_Config ? QString() : QStringLiteral(".index"));
    if (QFile::exists(l_Path))
        return;
    qWarning().noquote().nospace() << "CASCBaseVerifier::Scan(): Missing file " << l_Path;
    m_Missing.append(qMakePair(l_Path, l_Url));
}

void CASCBaseVerifier::Start()
{
    if (m_ScanFailed)
        return;
    if (m_Missing.isEmpty())
    {
        if (m_OnFinished)
            m_OnFinished();
        return;
    }
    m_SizeIndex = 0;
    m_TotalBytes = m_DoneBytes = 0;
    GetNextFileSize();
}

QString CASCBaseVerifier::CheckFile(const QString& p_Part, const QString& p_Path)
{
    QFile l_File(p_Part);
    if (!l_File.open(QIODevice::ReadOnly))
        return "cannot read " + p_Part;
    const QByteArray l_Bytes = l_File.readAll();
    const QString l_Name = QFileInfo(p_Path).fileName();
    if (!l_Name.endsWith(".index"))
        return CASCKey::Matches(l_Bytes, l_Name) ? QString() : QStringLiteral("does not match its key");
    const auto l_Data = reinterpret_cast<const uchar*>(l_Bytes.constData());
    const CASCIndexFile::Result l_Result =
        CASCIndexFile::Parse(l_Data, l_Bytes.size(), [](const uchar*, quint32, quint32) {});
    if (l_Result != CASCIndexFile::Ok || !FooterHolds(l_Bytes))
        return QStringLiteral("is not an archive index");
    return QString();
}

void CASCBaseVerifier::GetNextFileSize()
{
    if (m_Stopped)
    {
        m_Held = [this] { GetNextFileSize(); };
        return;
    }
    if (m_SizeIndex < m_Missing.size())
    {
        GetFileSize(m_Missing.at(m_SizeIndex).second, [this](QString, quint64 p_Size) {
            m_TotalBytes += p_Size;
            ++m_SizeIndex;
            GetNextFileSize(); // held there when a stop came meanwhile
        });
        return;
    }
    qWarning().noquote().nospace() << "CASCBaseVerifier::GetNextFileSize() Total bytes " << m_TotalBytes << " in mo "
                                   << (m_TotalBytes >> 20);
    m_FileNumber = 1;
    m_DoneBytes = 0;
    m_Rate.Start(0);
    if (m_OnDownloadStarted)
        m_OnDownloadStarted(1, m_Missing.size(), 0, 0, m_TotalBytes, 0);
    DownloadNextFile();
}

void CASCBaseVerifier::GetFileSize(const QString& p_Url, std::function<void(QString, quint64)> p_OnSize)
{
    QNetworkReply* l_Reply = m_NetworkManager->get(QNetworkRequest(QUrl(p_Url, QUrl::TolerantMode)));
    auto l_Done = std::make_shared<bool>(false);
    // Every failure is reported, so that the sequence never waits on a size that cannot come.
    auto l_Fail = [this, l_Reply, l_Done, p_Url](const QString& p_Message) {
        if (*l_Done)
            return;
        *l_Done = true;
        m_SizeFailed = true;
        m_Owner->RaiseError(Errors::Network, p_Message);
        l_Reply->abort();
        l_Reply->deleteLater();
    };
    connect(l_Reply, &QNetworkReply::metaDataChanged, l_Reply, [l_Reply, l_Done, p_Url, p_OnSize] {
        // Headers of an error page are not the file's: the error follows.
        const int l_Status = HttpStatus(l_Reply);
        if (*l_Done || l_Status < 200 || l_Status > 299)
            return;
        *l_Done = true;
        const quint64 l_Size = l_Reply->header(QNetworkRequest::ContentLengthHeader).toULongLong();
        l_Reply->abort();
        l_Reply->deleteLater();
        p_OnSize(p_Url, l_Size);
    }, Qt::DirectConnection);
    connect(l_Reply, Compat::ReplyError, l_Reply, [l_Fail, p_Url](QNetworkReply::NetworkError p_Code) {
        if (p_Code != QNetworkReply::OperationCanceledError)
            l_Fail(ErrorMessage(p_Code, p_Url));
    }, Qt::DirectConnection);
    connect(l_Reply, &QNetworkReply::finished, l_Reply, [l_Fail, l_Reply, p_Url] {
        l_Fail("HTTP status " + QString::number(HttpStatus(l_Reply)) + " when retrieving file " + p_Url);
    }, Qt::DirectConnection);
    CASCHttpGet::WatchStall(l_Reply, [l_Fail, p_Url] { l_Fail(ErrorMessage(QNetworkReply::TimeoutError, p_Url)); });
}

void CASCBaseVerifier::DownloadNextFile()
{
    if (m_Stopped)
    {
        m_Held = [this] { DownloadNextFile(); };
        return;
    }
    const int l_Count = m_Missing.size();
    if (m_FileNumber != l_Count + 1)
    {
        const QPair<QString, QString> l_File = m_Missing.at(m_FileNumber - 1);
        m_Transfer->m_Check = [l_File](const QString& p_Part) { return CheckFile(p_Part, l_File.first); };
        StartDownload(l_File.second, l_File.first, [this] {
            ++m_FileNumber;
            DownloadNextFile();
        });
        return;
    }
    if (m_OnDownloadCompleted)
        m_OnDownloadCompleted(l_Count, l_Count, 100, m_DoneBytes, m_TotalBytes, 0);
    m_Missing.clear();
    if (m_OnFinished)
        m_OnFinished();
}

void CASCBaseVerifier::StartDownload(const QString& p_Url, const QString& p_Path, std::function<void()> p_OnComplete)
{
    m_Transfer->m_Url = p_Url;
    m_Transfer->m_Path = p_Path;
    m_Transfer->m_OnComplete = std::move(p_OnComplete);
    Request();
}

void CASCBaseVerifier::Request()
{
    Transfer& l_Transfer = *m_Transfer;
    l_Transfer.m_Received = 0;
    l_Transfer.m_Stopped = false;
    l_Transfer.m_File.close();
    // The file appears under its own name only once complete: a kill leaves no short base file.
    QDir().mkpath(QFileInfo(l_Transfer.m_Path).absolutePath());
    l_Transfer.m_File.setFileName(l_Transfer.m_Path + ".part");
    if (!l_Transfer.m_File.open(QIODevice::WriteOnly | QIODevice::Truncate))
    {
        Fail(Errors::LocalStorage, "Error CASCBaseVerifier cannot write " + l_Transfer.m_File.fileName() + " : " +
                                       l_Transfer.m_File.errorString());
        return;
    }
    QNetworkReply* l_Reply = m_NetworkManager->get(QNetworkRequest(QUrl(l_Transfer.m_Url, QUrl::TolerantMode)));
    connect(l_Reply, &QNetworkReply::readyRead, this, &CASCBaseVerifier::HTTP_OnReadyRead, Qt::DirectConnection);
    connect(l_Reply, &QNetworkReply::finished, this, &CASCBaseVerifier::HTTP_DownloadFinished, Qt::DirectConnection);
    connect(l_Reply, Compat::ReplyError, this, &CASCBaseVerifier::HTTP_OnError, Qt::DirectConnection);
    CASCHttpGet::WatchStall(l_Reply, [this, l_Reply] {
        if (m_Transfer->m_Reply == l_Reply)
            Fail(Errors::Network, ErrorMessage(QNetworkReply::TimeoutError, m_Transfer->m_Url));
    });
    l_Transfer.m_Reply = l_Reply;
}

void CASCBaseVerifier::Fail(int p_Kind, const QString& p_Message)
{
    Transfer& l_Transfer = *m_Transfer;
    l_Transfer.m_Stopped = true;
    l_Transfer.m_File.close();
    QNetworkReply* l_Reply = l_Transfer.m_Reply;
    l_Transfer.m_Reply = nullptr; // what the reply still signals belongs to no transfer
    m_Owner->RaiseError(Errors::Type(p_Kind), p_Message);
    if (l_Reply)
    {
        l_Reply->abort();
        l_Reply->deleteLater();
    }
}

void CASCBaseVerifier::HTTP_OnReadyRead()
{
    auto* l_Reply = qobject_cast<QNetworkReply*>(sender());
    Transfer& l_Transfer = *m_Transfer;
    if (!l_Reply || l_Reply != l_Transfer.m_Reply)
        return;
    const QByteArray l_Bytes = l_Reply->readAll();
    // Flushed at every arrival: the bytes are on disk, not in the file's buffer.
    if (l_Transfer.m_File.write(l_Bytes) != l_Bytes.size() || !l_Transfer.m_File.flush())
    {
        Fail(Errors::LocalStorage, "Error CASCBaseVerifier cannot write " + l_Transfer.m_File.fileName() + " : " +
                                       l_Transfer.m_File.errorString());
        return;
    }
    l_Transfer.m_Received += l_Bytes.size();
    m_DoneBytes += quint64(l_Bytes.size());
    Tick(false);
}

void CASCBaseVerifier::Tick(bool p_Always)
{
    if (m_Transfer->m_Stopped || (!p_Always && !m_Rate.Due()))
        return;
    const quint64 l_Speed = m_Rate.Sample(m_DoneBytes);
    const float l_Total = m_TotalBytes == 0 ? 1.0f : float(m_TotalBytes);
    const int l_Percent = int(float(m_DoneBytes) / l_Total * 100.0f);
    if (m_OnDownloadProgress)
        m_OnDownloadProgress(m_FileNumber, m_Missing.size(), l_Percent, m_DoneBytes, m_TotalBytes, l_Speed);
}

void CASCBaseVerifier::HTTP_DownloadFinished()
{
    auto* l_Reply = qobject_cast<QNetworkReply*>(sender());
    Transfer& l_Transfer = *m_Transfer;
    if (!l_Reply || l_Reply != l_Transfer.m_Reply)
        return;
    const int l_Status = HttpStatus(l_Reply);
    if (l_Reply->error() == QNetworkReply::NoError && (l_Status < 200 || l_Status > 299))
    {
        // A redirect or another answer that carries no file.
        Fail(Errors::Network, "HTTP status " + QString::number(l_Status) + " when retrieving file " + l_Transfer.m_Url);
        return;
    }
    l_Reply->close();
    l_Reply->deleteLater();
    l_Transfer.m_Reply = nullptr;
    if (l_Transfer.m_Stopped)
        return;
    const bool l_Flushed = l_Transfer.m_File.flush();
    l_Transfer.m_File.close();
    const QString l_Wrong = l_Flushed && l_Transfer.m_Check ? l_Transfer.m_Check(l_Transfer.m_File.fileName()) : QString();
    if (!l_Wrong.isEmpty())
    {
        // A captive portal or a wrong mirror: nothing of it is kept.
        QFile::remove(l_Transfer.m_File.fileName());
        Fail(Errors::Network, "Error CASCBaseVerifier " + l_Transfer.m_Url + " " + l_Wrong);
        return;
    }
    QFile::remove(l_Transfer.m_Path);
    if (!l_Flushed || !QFile::rename(l_Transfer.m_File.fileName(), l_Transfer.m_Path))
    {
        Fail(Errors::LocalStorage, "Error CASCBaseVerifier cannot write " + l_Transfer.m_Path);
        return;
    }
    Tick(false);
    if (l_Transfer.m_OnComplete)
        l_Transfer.m_OnComplete();
}

void CASCBaseVerifier::HTTP_OnError(QNetworkReply::NetworkError p_Error)
{
    auto* l_Reply = qobject_cast<QNetworkReply*>(sender());
    // Every abort is followed by OperationCanceledError.
    if (!l_Reply || l_Reply != m_Transfer->m_Reply || p_Error == QNetworkReply::OperationCanceledError)
        return;
    Fail(Errors::Network, ErrorMessage(p_Error, m_Transfer->m_Url));
}

void CASCBaseVerifier::StopDownload()
{
    m_Stopped = true;
    Transfer& l_Transfer = *m_Transfer;
    if (!l_Transfer.m_Reply || l_Transfer.m_Stopped)
        return;
    l_Transfer.m_Stopped = true;
    l_Transfer.m_File.close();
    QNetworkReply* l_Reply = l_Transfer.m_Reply;
    l_Transfer.m_Reply = nullptr;
    l_Reply->abort();
    l_Reply->deleteLater();
}

void CASCBaseVerifier::ResumeDownload()
{
    m_Stopped = false;
    if (std::function<void()> l_Held = std::move(m_Held))
    {
        m_Held = nullptr;
        l_Held();
        return;
    }
    if (m_SizeFailed)
    {
        m_SizeFailed = false;
        GetNextFileSize();
        return;
    }
    Transfer& l_Transfer = *m_Transfer;
    if (!l_Transfer.m_Stopped || l_Transfer.m_Url.isEmpty())
        return;
    // From the first byte again: the partial bytes leave the count.
    m_DoneBytes -= quint64(l_Transfer.m_Received);
    Request();
    m_Rate.Restart(m_DoneBytes);
}

} // namespace CASC
} // namespace Orvane
