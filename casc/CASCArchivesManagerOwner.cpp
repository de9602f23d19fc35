#include "casc/CASCArchivesManager.h"

#include "casc/CASCApplication.h"
#include "casc/CASCIndexManager.h"
#include "casc/CASCVersion.h"

namespace Orvane {
namespace CASC {

// Everything the manager asks of the orchestrator and the CDN archive indices.

QString CASCArchivesManager::Folder() const
{
    return m_Owner->GetInstallFolder();
}

QString CASCArchivesManager::CdnBase(QString* p_Problem)
{
    const int l_Region = m_Owner->GetRegion();
    const CASCCdnEntry* l_Cdn = m_Owner->GetRandomCDN(l_Region);
    if (!l_Cdn)
    {
        const QString l_Message = "No CDN for world region " + QString::number(l_Region);
        if (p_Problem)
            *p_Problem = l_Message;
        else
            Raise(Errors::NoCdn, l_Message);
        return QString();
    }
    return "http://" + l_Cdn->_Host + "/" + l_Cdn->_Path + "/";
}

QString CASCArchivesManager::EncodingKey() const
{
    const CASCVersion* l_Version = m_Owner->GetVersion();
    return l_Version ? l_Version->GetEncodingKey() : QString();
}

const CASCIndexRecord* CASCArchivesManager::FindIndexRecord(const char* p_IndexKey) const
{
    return m_Owner->GetIndexManager()->FindEntry(CASCIndexManager::IndexKey(p_IndexKey));
}

quint32 CASCArchivesManager::RecordSize(const CASCIndexRecord* p_Record)
{
    return p_Record->_Size;
}

quint32 CASCArchivesManager::RecordOffset(const CASCIndexRecord* p_Record)
{
    return p_Record->_Offset;
}

quint16 CASCArchivesManager::RecordArchive(const CASCIndexRecord* p_Record)
{
    return p_Record->_ArchiveIndex;
}

bool CASCArchivesManager::RecordIsPatch(const CASCIndexRecord* p_Record)
{
    return p_Record->_Patch != 0;
}

QByteArray CASCArchivesManager::RecordKey(const CASCIndexRecord* p_Record)
{
    return QByteArray(reinterpret_cast<const char*>(p_Record->_Key.data()), int(p_Record->_Key.size()));
}

QString CASCArchivesManager::RecordArchiveName(const CASCIndexRecord* p_Record) const
{
    const QString* l_Name = m_Owner->GetIndexManager()->GetArchiveName(p_Record->_ArchiveIndex);
    return l_Name ? *l_Name : QString();
}

void CASCArchivesManager::Raise(Errors::Type p_Kind, const QString& p_Message)
{
    m_Owner->RaiseError(p_Kind, p_Message);
}

} // namespace CASC
} // namespace Orvane
