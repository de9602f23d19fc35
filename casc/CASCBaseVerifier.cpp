#include "casc/CASCBaseVerifier.h"

#include "casc/CASCApplication.h"
#include "casc/CASCHttpGet.h"
#include "casc/CASCIndexFile.h"
#include "casc/CASCKey.h"
#include "platform/QtCompat.h"
#include "net/Deployment.h"
#include "net/ModuleNetwork.h"
#include "net/Transfer.h"
#include "net/TransferSink.h"
#include "casc/CASCVersion.h"
#include "casc/CascLog.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QCryptographicHash>
#include <QThread>

namespace Orvane {
namespace CASC {

namespace {

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
    qCWarning(CascLog).noquote().nospace() << "CASCBaseVerifier::Scan(): Missing file " << l_Path;
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
    m_Sizes.clear();
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
            m_Sizes.append(p_Size);
            ++m_SizeIndex;
            GetNextFileSize(); // held there when a stop came meanwhile
        });
        return;
    }
    qCWarning(CascLog).noquote().nospace()
        << "CASCBaseVerifier::GetNextFileSize() Total bytes " << m_TotalBytes << " in mo " << (m_TotalBytes >> 20);
    m_FileNumber = 1;
    m_DoneBytes = 0;
    m_Rate.Start(0);
    if (m_OnDownloadStarted)
        m_OnDownloadStarted(1, m_Missing.size(), 0, 0, m_TotalBytes, 0);
    DownloadNextFile();
}

Launcher::Transfer* CASCBaseVerifier::NewTransfer()
{
    // A child of the manager: a new Scan takes it away with the manager.
    auto* l_Transfer = new Launcher::Transfer(m_NetworkManager, m_NetworkManager);
    // Asked before the request goes out and while it runs: a stop is never lost.
    l_Transfer->SetStopWhen([this] { return m_Stopped; });
    return l_Transfer;
}

void CASCBaseVerifier::GetFileSize(const QString& p_Url, std::function<void(QString, quint64)> p_OnSize)
{
    Launcher::Transfer* l_Transfer = NewTransfer();
    connect(l_Transfer, &Launcher::Transfer::Ended, this, [this, l_Transfer, p_Url, p_OnSize] {
        l_Transfer->deleteLater();
        const Launcher::TransferResult& l_Result = l_Transfer->Result();
        if (l_Result.Outcome == Launcher::TransferResult::Verdict::Stopped)
        {
            // Held; the resume asks again.
            if (m_Stopped)
                m_Held = [this] { GetNextFileSize(); };
            else
                GetNextFileSize();
            return;
        }
        const int l_Status = l_Result.Ending.Status;
        if (l_Status < 200 || l_Status > 299)
        {
            // Every failure is reported, so that the sequence never waits on a size that cannot come.
            int l_Code = CASCHttpGet::FailureCode(l_Result);
            if (l_Code == 0)
                l_Code = QNetworkReply::ProtocolFailure;
            // In the size phase the resume asks again from there; later the failed transfer does.
            m_SizeFailed = m_SizeIndex < m_Missing.size();
            m_Owner->RaiseError(Errors::Network, CASCHttpGet::ErrorMessage(l_Code, p_Url));
            return;
        }
        p_OnSize(p_Url, quint64(qMax<qint64>(0, l_Result.FullSize)));
    });
    Launcher::TransferRequest l_Asked;
    l_Asked.Url = p_Url;
    l_Asked.SizeOnly = true;
    l_Transfer->Start(l_Asked, nullptr);
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
        // Bounded by its size answer; a configuration (or a file whose size was not told) by the
        // document bound, as it is read whole to be checked.
        const quint64 l_Size = m_FileNumber - 1 < m_Sizes.size() ? m_Sizes.at(m_FileNumber - 1) : 0;
        m_Transfer->m_Cap = l_Size > 0 ? qint64(l_Size) : Launcher::Deployment::MaxDocumentBytes();
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

CASCBaseVerifier::Transfer::~Transfer() = default;

void CASCBaseVerifier::Request()
{
    Transfer& l_Transfer = *m_Transfer;
    l_Transfer.m_Received = 0;
    l_Transfer.m_Stopped = false;
    l_Transfer.m_Failed = false;
    // The file appears under its own name only once complete: a kill leaves no short base file.
    QDir().mkpath(QFileInfo(l_Transfer.m_Path).absolutePath());
    const QString l_Part = l_Transfer.m_Path + ".part";
    QFile::remove(l_Part);
    l_Transfer.m_Sink = Launcher::TransferSink::File(l_Part, l_Transfer.m_Cap);
    Launcher::Transfer* l_Engine = NewTransfer();
    CASCHttpGet::KeepWith(l_Engine, l_Transfer.m_Sink);
    l_Transfer.m_Engine = l_Engine;
    connect(l_Engine, &Launcher::Transfer::BodyWritten, this, &CASCBaseVerifier::HTTP_OnReadyRead);
    connect(l_Engine, &Launcher::Transfer::Ended, this, &CASCBaseVerifier::HTTP_DownloadFinished);
    Launcher::TransferRequest l_Asked;
    l_Asked.Url = l_Transfer.m_Url;
    l_Asked.ExpectedSize = l_Transfer.m_Cap;
    l_Engine->Start(l_Asked, l_Transfer.m_Sink.get());
}

void CASCBaseVerifier::Fail(int p_Kind, const QString& p_Message)
{
    Transfer& l_Transfer = *m_Transfer;
    l_Transfer.m_Stopped = true;
    l_Transfer.m_Failed = true;
    if (Launcher::Transfer* l_Engine = l_Transfer.m_Engine)
    {
        // What it still signals belongs to no transfer.
        l_Transfer.m_Engine = nullptr;
        l_Engine->disconnect(this);
        l_Engine->deleteLater();
    }
    m_Owner->RaiseError(Errors::Type(p_Kind), p_Message);
}

void CASCBaseVerifier::HTTP_OnReadyRead(qint64 p_Bytes)
{
    Transfer& l_Transfer = *m_Transfer;
    if (!l_Transfer.m_Engine || sender() != l_Transfer.m_Engine)
        return;
    l_Transfer.m_Received += p_Bytes;
    m_DoneBytes += quint64(p_Bytes);
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
    Transfer& l_Transfer = *m_Transfer;
    Launcher::Transfer* l_Engine = l_Transfer.m_Engine;
    if (!l_Engine || sender() != l_Engine)
        return;
    l_Engine->deleteLater();
    l_Transfer.m_Engine = nullptr;
    const Launcher::TransferResult l_Result = l_Engine->Result();
    const QString l_Part = l_Transfer.m_Sink->Path();
    switch (l_Result.Outcome)
    {
    case Launcher::TransferResult::Verdict::Stopped:
        l_Transfer.m_Stopped = true;
        if (!m_Stopped)
            ResumeDownload(); // the resume came before the stop was acknowledged
        return;
    case Launcher::TransferResult::Verdict::WriteFailed:
        Fail(Errors::LocalStorage, "Error CASCBaseVerifier cannot write " + l_Part + " : " + l_Result.Reason);
        return;
    case Launcher::TransferResult::Verdict::TooLarge:
        QFile::remove(l_Part);
        Fail(Errors::Network, "Error CASCBaseVerifier " + l_Transfer.m_Url + " is larger than " +
                                  QString::number(l_Transfer.m_Cap) + " bytes");
        return;
    case Launcher::TransferResult::Verdict::Complete:
        break;
    default:
    {
        // Every error counts, a redirect or another answer that carries no file too.
        const int l_Code = CASCHttpGet::FailureCode(l_Result);
        if (l_Code != 0)
            return HTTP_OnError(QNetworkReply::NetworkError(l_Code));
        Fail(Errors::Network, "HTTP status " + QString::number(l_Result.Ending.Status) + " when retrieving file " +
                                  l_Transfer.m_Url);
        return;
    }
    }
    const QString l_Wrong = l_Transfer.m_Check ? l_Transfer.m_Check(l_Part) : QString();
    if (!l_Wrong.isEmpty())
    {
        // A captive portal or a wrong mirror: nothing of it is kept.
        QFile::remove(l_Part);
        Fail(Errors::Network, "Error CASCBaseVerifier " + l_Transfer.m_Url + " " + l_Wrong);
        return;
    }
    QFile::remove(l_Transfer.m_Path);
    if (!QFile::rename(l_Part, l_Transfer.m_Path))
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
    // The cancel that follows a stop is no failure.
    if (p_Error == QNetworkReply::OperationCanceledError)
        return;
    Fail(Errors::Network, CASCHttpGet::ErrorMessage(p_Error, m_Transfer->m_Url));
}

void CASCBaseVerifier::StopDownload()
{
    // The transfer in flight and every next step read the flag.
    m_Stopped = true;
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
    if (!l_Transfer.m_Stopped || l_Transfer.m_Url.isEmpty() || l_Transfer.m_Engine)
        return;
    // From the first byte again: the partial bytes leave the count.
    m_DoneBytes -= quint64(l_Transfer.m_Received);
    l_Transfer.m_Received = 0;
    m_Rate.Restart(m_DoneBytes);
    if (!l_Transfer.m_Failed)
        return Request();
    // The size told before may have been a wrong body's: the bound comes from a new answer.
    GetFileSize(l_Transfer.m_Url, [this](QString, quint64 p_Size) {
        const int l_Index = m_FileNumber - 1;
        if (l_Index >= 0 && l_Index < m_Sizes.size())
        {
            m_TotalBytes = m_TotalBytes - m_Sizes.at(l_Index) + p_Size;
            m_Sizes[l_Index] = p_Size;
        }
        m_Transfer->m_Cap = p_Size > 0 ? qint64(p_Size) : Launcher::Deployment::MaxDocumentBytes();
        Request();
    });
}

} // namespace CASC
} // namespace Orvane
