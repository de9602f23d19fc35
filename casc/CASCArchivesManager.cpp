#include "casc/CASCArchivesManager.h"

#include "casc/BLTEHandler.h"
#include "casc/CASCApplication.h"
#include "casc/CASCEncodingFile.h"
#include "casc/CASCKey.h"
#include "casc/CASCVersion.h"
#include "casc/CascLog.h"

#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

namespace Orvane {
namespace CASC {

CASCArchivesManager::CASCArchivesManager(CASCApplication* p_Owner)
    : m_Owner(p_Owner)
    , m_Fetch(NewFetchLoop())
    , m_SlotWriter(new CASCSlotWriter(m_EncodingMap, this, [this](const CASCSlotWriter::Result& p_Result) {
        SlotHandled(p_Result);
    }))
{
}

CASCArchivesManager::~CASCArchivesManager()
{
    // The pool's parse posts to this object: it ends before the object goes.
    CancelEncoding();
    m_EncodingRun.waitForFinished();
    m_CopyCancel = true;
    m_CopyRun.waitForFinished();
    m_SlotWriter->Drain();
    // Nothing of the transfers reaches this half-destroyed object.
    m_Fetch->Release();
}

void CASCArchivesManager::Init(QString p_DownloadDbPath)
{
    // The writer's jobs read the encoding map, which this Init replaces.
    m_SlotWriter->Drain();
    m_DownloadDbPath = p_DownloadDbPath;
    m_Fetch->Renew(true);

    const QString l_Key = EncodingKey();
    qCWarning(CascLog).noquote() << "CASCArchivesManager::Init() encoding file : " + l_Key;
    // The key names a file that a failed decode deletes: nothing but a digest may.
    if (!CASCKey::IsKey(l_Key))
    {
        Raise(Errors::EncodingFile, l_Key.isEmpty() ? QStringLiteral("CASCArchivesManager::Init() no encoding key in the build configuration")
                                 : "CASCArchivesManager::Init() invalid encoding key : \"" + l_Key + "\"");
        return;
    }
    const QString l_Local = Folder() + "data/orvane/" + l_Key;
    if (QFile::exists(l_Local))
    {
        DecodeEncodingFile(l_Local, l_Key);
        return;
    }

    const QString l_Base = CdnBase();
    if (l_Base.isEmpty())
        return;
    const QString l_Url = l_Base + "data/" + l_Key.left(2) + "/" + l_Key.mid(2, 2) + "/" + l_Key;
    m_Fetch->AskSize(l_Url, [this, l_Url, l_Local, l_Key](quint64 p_Answered) {
        m_Fetch->Step([this, l_Url, l_Local, l_Key, p_Answered] { DownloadEncodingFile(l_Url, l_Local, l_Key, p_Answered); });
    });
}

void CASCArchivesManager::DownloadEncodingFile(const QString& p_Url, const QString& p_Local, const QString& p_Key,
                                               quint64 p_Answered)
{
    // The build configuration's figure (its MD5 was checked) bounds the transfer; the size
    // answer only stands in when it gives none.
    const CASCVersion* l_Version = m_Owner->GetVersion();
    const QList<qint64> l_Sizes = l_Version ? l_Version->GetBuildConfig()._EncodingSizes : QList<qint64>();
    const quint64 l_Size = !l_Sizes.isEmpty() && l_Sizes.last() > 0 ? quint64(l_Sizes.last()) : p_Answered;
    if (l_Size == 0)
    {
        Raise(Errors::Network, "CASCArchivesManager::Init() unknown size of the encoding file " + p_Url);
        return;
    }
    m_Fetch->StartCount(l_Size);
    m_FileNumber = 1;
    m_ToDownload.clear();
    m_OnDownloadStarted(1, 1, 0, m_Fetch->Done(), m_Fetch->Total(), 0);
    // Under a temporary name until complete: a kill never leaves a cut copy behind.
    const QString l_Partial = p_Local + ".part";
    m_Fetch->Fetch(p_Url, l_Partial, 0, qint64(l_Size) - 1, -1, [this, l_Partial, p_Local, p_Key] {
        m_OnDownloadCompleted(1, 1, 100, m_Fetch->Done(), m_Fetch->Total(), 0);
        QFile::remove(p_Local);
        if (!QFile::rename(l_Partial, p_Local))
        {
            Raise(Errors::LocalStorage, "Failed to open archive or download file");
            return;
        }
        DecodeEncodingFile(p_Local, p_Key);
    });
}

void CASCArchivesManager::DecodeEncodingFile(const QString& p_Path, const QString& p_Key)
{
    // About a second per million entries: never on the owner's thread, which keeps serving the
    // host (a stop included). Each step comes back here, queued in order, unless called off.
    // One parse at a time, so that the destructor's wait covers every one.
    CancelEncoding();
    m_EncodingRun.waitForFinished();
    const auto l_CallOff = std::make_shared<std::atomic<bool>>(false);
    m_EncodingCallOff = l_CallOff;
    const auto l_Post = [this, l_CallOff](std::function<void()> p_Step) {
        if (!*l_CallOff)
            QMetaObject::invokeMethod(this, [l_CallOff, p_Step] {
                if (!*l_CallOff)
                    p_Step();
            }, Qt::QueuedConnection);
    };
    m_EncodingRun = QtConcurrent::run([this, l_CallOff, l_Post, p_Path, p_Key] {
        const auto l_Outcome = [this, l_Post, l_CallOff, p_Path](Errors::Type p_Kind, const QString& p_Message) {
            l_Post([this, l_CallOff, p_Kind, p_Message, p_Path] { EncodingParsed(l_CallOff, p_Kind, p_Message, p_Path); });
        };
        QFile l_File(p_Path);
        if (!l_File.open(QIODevice::ReadOnly))
        {
            // Silence here would leave the run waiting for ever.
            return l_Outcome(Errors::LocalStorage, "CASCArchivesManager::Init() cannot read the encoding file " + p_Path + " : " +
                                    l_File.errorString());
        }
        const QByteArray l_Expected = QByteArray::fromHex(p_Key.toLatin1()).leftJustified(16, '\0', true);
        QByteArray l_Decoded;
        QDataStream l_Stream(&l_File);
        const qint32 l_Result = BLTEHandler::ExtractData(l_Stream, quint64(l_File.size()), l_Expected.constData(), l_Decoded);
        l_File.close();
        if (l_Result != BLTEHandler::Ok)
            return l_Outcome(Errors::EncodingFile, "CASCArchivesManager::Init() Encoding extracting error : " + QString::number(l_Result) +
                                    " removing file");
        l_Post([this] {
            m_OnBusy();
            m_OnCheckProgress(0, CheckTotal);
        });
        const auto l_Map = std::make_shared<CASCEncodingMap>();
        const bool l_Ok = CASCEncodingFile::Parse(l_Decoded, *l_Map, [this, l_Post](quint32 p_Entries) {
            l_Post([this, p_Entries] { m_OnCheckProgress(qMin(p_Entries, CheckTotal), CheckTotal); });
        }, l_CallOff.get());
        l_Decoded.clear();
        l_Post([this, l_Ok, l_Map] {
            m_OnCheckProgress(CheckTotal, CheckTotal);
            m_OnBusy();
            // A failed parse leaves the map as it was.
            if (l_Ok)
                m_EncodingMap = std::move(*l_Map);
            qCWarning(CascLog).noquote() << QString::number(m_EncodingMap.Size()) + " md5 hashs";
        });
        l_Outcome(Errors::EncodingFile, l_Ok ? QString() : QStringLiteral("CASCArchivesManager::Init() Encoding reading error, removing file"));
    });
}

void CASCArchivesManager::EncodingParsed(std::shared_ptr<std::atomic<bool>> p_CallOff, Errors::Type p_Kind,
                                         const QString& p_Message, const QString& p_Path)
{
    // Reported even after a stop, as the parse on this thread was: the caller holds what follows.
    if (*p_CallOff)
        return;
    if (p_Message.isEmpty())
        return m_OnEncodingLoaded();
    Raise(p_Kind, p_Message);
    if (p_Kind == Errors::EncodingFile)
        QFile::remove(p_Path);
}

void CASCArchivesManager::CancelEncoding()
{
    if (m_EncodingCallOff)
        *m_EncodingCallOff = true;
    m_EncodingCallOff.reset();
}

bool CASCArchivesManager::ParseEncodingFile(QByteArray* p_Data)
{
    m_OnBusy();
    m_OnCheckProgress(0, CheckTotal);
    const bool l_Ok = CASCEncodingFile::Parse(*p_Data, m_EncodingMap, [this](quint32 p_Entries) {
        m_OnCheckProgress(qMin(p_Entries, CheckTotal), CheckTotal);
    });
    m_OnCheckProgress(CheckTotal, CheckTotal);
    m_OnBusy();
    qCWarning(CascLog).noquote() << QString::number(m_EncodingMap.Size()) + " md5 hashs";
    return l_Ok;
}

} // namespace CASC
} // namespace Orvane
