#include "casc/CASCBaseVerifier.h"

#include "casc/CASCApplication.h"
#include "casc/CASCHttpGet.h"
#include "casc/CASCIndexFile.h"
#include "casc/CASCKey.h"
#include "platform/Md5.h"
#include "platform/QtCompat.h"
#include "net/Deployment.h"
#include "casc/CASCVersion.h"
#include "casc/CascLog.h"

#include <QDebug>
#include <QNetworkReply>
#include <QDir>
#include <QFileInfo>

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
    return Md5::Hash(l_Footer.mid(8, 12) + QByteArray(8, '\0')).left(8) ==
           l_Footer.mid(20, 8);
}

} // namespace

CASCBaseVerifier::CASCBaseVerifier(CASCApplication* p_Owner) : m_Owner(p_Owner)
{
    CASCFetchLoop::Hooks l_Hooks;
    l_Hooks._Raise = [this](Errors::Type p_Kind, const QString& p_Message) { m_Owner->RaiseError(p_Kind, p_Message); };
    l_Hooks._Prepare = [this](CASCFetchRequest& p_File, Errors::Type*) { return Prepare(p_File); };
    l_Hooks._Judge = [this](CASCFetchRequest& p_File, const Launcher::TransferResult& p_Result) {
        return Judge(p_File, p_Result);
    };
    l_Hooks._Tick = [this] { Tick(); };
    l_Hooks._Refresh = [this](std::function<void()> p_Go) { Refresh(std::move(p_Go)); };
    l_Hooks._Name = QStringLiteral("CASCBaseVerifier");
    m_Fetch = new CASCFetchLoop(this, std::move(l_Hooks));
}

CASCBaseVerifier::~CASCBaseVerifier()
{
    // The replies go with their manager; a partial download stays under its ".part" name.
    m_Fetch->Release();
}

void CASCBaseVerifier::Scan()
{
    m_Missing.clear();
    m_Fetch->DropHeld();
    m_ScanFailed = m_SizeFailed = false;
    m_Fetch->Renew(false);

    const int l_Region = m_Owner->GetRegion();
    const CASCVersionEntry& l_Entry = m_Owner->GetVersionInfo(l_Region);
    const CASCVersion* l_Version = m_Owner->GetVersion();
    const CASCCdnEntry* l_Cdn = m_Owner->GetRandomCDN(l_Region); // one host for the whole list
    if (!l_Cdn || !l_Version)
    {
        m_ScanFailed = true;
        m_Owner->RaiseError(Errors::NoCdn, "CASCBaseVerifier::Scan(): no CDN configuration for world region " +
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
    m_Fetch->StartCount(0);
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
    if (m_Fetch->Stopped())
        return m_Fetch->Step([this] { GetNextFileSize(); });
    if (m_SizeIndex < m_Missing.size())
    {
        GetFileSize(m_Missing.at(m_SizeIndex).second, [this](quint64 p_Size) {
            m_Fetch->SetTotal(m_Fetch->Total() + p_Size);
            m_Sizes.append(p_Size);
            ++m_SizeIndex;
            GetNextFileSize(); // held there when a stop came meanwhile
        });
        return;
    }
    const quint64 l_Total = m_Fetch->Total();
    qCWarning(CascLog).noquote().nospace()
        << "CASCBaseVerifier::GetNextFileSize() Total bytes " << l_Total << " in mo " << (l_Total >> 20);
    m_FileNumber = 1;
    m_Fetch->StartCount(l_Total);
    if (m_OnDownloadStarted)
        m_OnDownloadStarted(1, m_Missing.size(), 0, 0, l_Total, 0);
    DownloadNextFile();
}

void CASCBaseVerifier::GetFileSize(const QString& p_Url, std::function<void(quint64)> p_OnSize)
{
    // In the size phase the resume asks again from there; later the failed transfer does.
    m_Fetch->AskSize(p_Url, std::move(p_OnSize), [this] { m_SizeFailed = m_SizeIndex < m_Missing.size(); });
}

void CASCBaseVerifier::DownloadNextFile()
{
    if (m_Fetch->Stopped())
        return m_Fetch->Step([this] { DownloadNextFile(); });
    const int l_Count = m_Missing.size();
    if (m_FileNumber != l_Count + 1)
    {
        const QPair<QString, QString> l_File = m_Missing.at(m_FileNumber - 1);
        // Bounded by its size answer; a configuration (or a file whose size was not told) by the
        // document bound, as it is read whole to be checked.
        const quint64 l_Size = m_FileNumber - 1 < m_Sizes.size() ? m_Sizes.at(m_FileNumber - 1) : 0;
        const qint64 l_Cap = l_Size > 0 ? qint64(l_Size) : Launcher::Deployment::MaxDocumentBytes();
        m_Fetch->Fetch(l_File.second, l_File.first, 0, -1, l_Cap, [this] {
            ++m_FileNumber;
            DownloadNextFile();
        });
        return;
    }
    if (m_OnDownloadCompleted)
        m_OnDownloadCompleted(l_Count, l_Count, 100, m_Fetch->Done(), m_Fetch->Total(), 0);
    m_Missing.clear();
    if (m_OnFinished)
        m_OnFinished();
}

QString CASCBaseVerifier::Prepare(CASCFetchRequest& p_File)
{
    // The file appears under its own name only once complete: a kill leaves no short base file.
    QDir().mkpath(QFileInfo(p_File._Path).absolutePath());
    const QString l_Part = p_File._Path + ".part";
    QFile::remove(l_Part);
    p_File._Sink = Launcher::TransferSink::File(l_Part, p_File._Cap);
    return QString();
}

CASCFetchLoop::Verdict CASCBaseVerifier::Judge(CASCFetchRequest& p_File, const Launcher::TransferResult& p_Result)
{
    CASCFetchLoop::Verdict l_Verdict;
    const QString l_Part = p_File._Sink->Path();
    switch (p_Result.Outcome)
    {
    case Launcher::TransferResult::Verdict::WriteFailed:
        l_Verdict._Kind = Errors::LocalStorage;
        l_Verdict._Message = "Error CASCBaseVerifier cannot write " + l_Part + " : " + p_Result.Reason;
        return l_Verdict;
    case Launcher::TransferResult::Verdict::TooLarge:
        QFile::remove(l_Part);
        l_Verdict._Message =
            "Error CASCBaseVerifier " + p_File._Url + " is larger than " + QString::number(p_File._Cap) + " bytes";
        return l_Verdict;
    case Launcher::TransferResult::Verdict::Complete:
        break;
    default:
    {
        // Every error counts, a redirect or another answer that carries no file too.
        const int l_Code = CASCHttpGet::FailureCode(p_Result);
        // The cancel that follows a stop is no failure.
        l_Verdict._Quiet = l_Code == QNetworkReply::OperationCanceledError;
        l_Verdict._Message = l_Code != 0 ? CASCHttpGet::ErrorMessage(l_Code, p_File._Url)
                                         : "HTTP status " + QString::number(p_Result.Ending.Status) +
                                               " when retrieving file " + p_File._Url;
        return l_Verdict;
    }
    }
    const QString l_Wrong = CheckFile(l_Part, p_File._Path);
    if (!l_Wrong.isEmpty())
    {
        // A captive portal or a wrong mirror: nothing of it is kept.
        QFile::remove(l_Part);
        l_Verdict._Message = "Error CASCBaseVerifier " + p_File._Url + " " + l_Wrong;
        return l_Verdict;
    }
    QFile::remove(p_File._Path);
    if (!QFile::rename(l_Part, p_File._Path))
    {
        l_Verdict._Kind = Errors::LocalStorage;
        l_Verdict._Message = "Error CASCBaseVerifier cannot write " + p_File._Path;
        return l_Verdict;
    }
    l_Verdict._Whole = true;
    return l_Verdict;
}

void CASCBaseVerifier::Tick()
{
    quint64 l_Speed = 0;
    int l_Percent = 0;
    if (m_Fetch->File()._Stopped || !m_Fetch->Sample(&l_Speed, &l_Percent))
        return;
    if (m_OnDownloadProgress)
        m_OnDownloadProgress(m_FileNumber, m_Missing.size(), l_Percent, m_Fetch->Done(), m_Fetch->Total(), l_Speed);
}

void CASCBaseVerifier::StopDownload()
{
    // The transfer in flight and every next step read the flag.
    m_Fetch->Stop();
}

void CASCBaseVerifier::ResumeDownload()
{
    if (m_Fetch->Resume())
        return;
    if (m_SizeFailed)
    {
        m_SizeFailed = false;
        GetNextFileSize();
        return;
    }
    m_Fetch->Restart();
}

void CASCBaseVerifier::Refresh(std::function<void()> p_Go)
{
    const QString l_Url = m_Fetch->File()._Url;
    GetFileSize(l_Url, [this, p_Go](quint64 p_Size) {
        const int l_Index = m_FileNumber - 1;
        if (l_Index >= 0 && l_Index < m_Sizes.size())
        {
            m_Fetch->SetTotal(m_Fetch->Total() - m_Sizes.at(l_Index) + p_Size);
            m_Sizes[l_Index] = p_Size;
        }
        m_Fetch->SetCap(p_Size > 0 ? qint64(p_Size) : Launcher::Deployment::MaxDocumentBytes());
        p_Go();
    });
}

} // namespace CASC
} // namespace Orvane
