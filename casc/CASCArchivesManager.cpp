#include "casc/CASCArchivesManager.h"

#include "casc/BLTEHandler.h"
#include "casc/CASCArchiveTransfer.h"
#include "casc/CASCEncodingFile.h"
#include "net/ModuleNetwork.h"

#include <QDataStream>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QThread>

namespace Orvane {
namespace CASC {

CASCArchivesManager::CASCArchivesManager(CASCApplication* p_Owner)
    : m_Owner(p_Owner)
    , m_Transfer(new CASCArchiveTransfer)
{
}

CASCArchivesManager::~CASCArchivesManager()
{
    if (m_Transfer->_Reply)
    {
        m_Transfer->_Reply->disconnect(this);
        m_Transfer->_Reply->abort();
        m_Transfer->_Reply->deleteLater();
    }
    delete m_Transfer->_File;
    delete m_NetworkManager;
    delete m_Transfer;
}

void CASCArchivesManager::Init(QString p_DownloadDbPath)
{
    m_DownloadDbPath = p_DownloadDbPath;
    delete m_NetworkManager;
    m_NetworkManager = Launcher::ModuleNetwork::NewManager(nullptr);
    m_NetworkManager->moveToThread(QThread::currentThread());

    const QString l_Key = EncodingKey();
    qWarning().noquote() << "CASCArchivesManager::Init() encoding file : " + l_Key;
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
    GetFileSize(l_Url, [this, l_Url, l_Local, l_Key](QString, quint64 p_Size) {
        m_BytesTotal = p_Size;
        m_BytesDone = 0;
        m_Rate.Start(0);
        m_FileNumber = 1;
        m_ToDownload.clear();
        m_OnDownloadStarted(1, 1, 0, m_BytesDone, m_BytesTotal, 0);
        // Under a temporary name until complete: a kill never leaves a cut copy behind.
        const QString l_Partial = l_Local + ".part";
        StartDownload(l_Url, l_Partial, 0, -1, [this, l_Partial, l_Local, l_Key] {
            m_OnDownloadCompleted(1, 1, 100, m_BytesDone, m_BytesTotal, 0);
            QFile::remove(l_Local);
            if (!QFile::rename(l_Partial, l_Local))
            {
                Raise(1, "Failed to open archive or download file");
                return;
            }
            DecodeEncodingFile(l_Local, l_Key);
        });
    });
}

void CASCArchivesManager::DecodeEncodingFile(const QString& p_Path, const QString& p_Key)
{
    QFile l_File(p_Path);
    if (!l_File.open(QIODevice::ReadOnly))
        return;
    const QByteArray l_Expected = QByteArray::fromHex(p_Key.toLatin1()).leftJustified(16, '\0', true);
    QByteArray l_Decoded;
    QDataStream l_Stream(&l_File);
    const qint32 l_Result = BLTEHandler::ExtractData(l_Stream, quint64(l_File.size()), l_Expected.constData(), l_Decoded);
    l_File.close();
    if (l_Result != BLTEHandler::Ok)
    {
        Raise(3, "CASCArchivesManager::Init() Encoding extracting error : " + QString::number(l_Result) +
                     " removing file");
        QFile::remove(p_Path);
        return;
    }
    if (!ParseEncodingFile(&l_Decoded))
    {
        Raise(3, "CASCArchivesManager::Init() Encoding reading error, removing file");
        QFile::remove(p_Path);
        return;
    }
    m_OnEncodingLoaded();
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
    qWarning().noquote() << QString::number(m_EncodingMap.Size()) + " md5 hashs";
    return l_Ok;
}

} // namespace CASC
} // namespace Orvane
