#include "launcher/PartFile.h"
#include "launcher/Manifest.h"
#include "platform/Platform.h"
#include "platform/PlatformPath.h"

#include <QFile>
#include <QFileInfo>

namespace Orvane {
namespace Launcher {

PartFile::PartFile(const QString& p_Folder, const ManifestFile& p_Entry)
    : m_Final(p_Folder + p_Entry.Path), m_Part(m_Final + ".part"), m_Flags(p_Entry.Flags)
{
}

qint64 PartFile::Size() const
{
    const QFileInfo l_Info(m_Part);
    return l_Info.isFile() ? l_Info.size() : -1;
}

void PartFile::CreateEmpty() const
{
    QFile l_Empty(m_Part);
    l_Empty.open(QIODevice::WriteOnly);
}

void PartFile::Discard() const
{
    QFile::remove(m_Part);
}

PartFile::Placing PartFile::MoveIntoPlace(QString* p_OldError) const
{
    p_OldError->clear();
    // A ".part" held without delete sharing (an antivirus scanning it as it closed) cannot be renamed: the
    // old file is kept until it can.
    if (Platform::InUse(PlatformPath(m_Part)))
        return Placing::InUse;
    QFile l_Old(m_Final);
    if (l_Old.exists())
    {
        Platform::ClearReadOnly(PlatformPath(m_Final));
        l_Old.setPermissions(l_Old.permissions() | QFileDevice::WriteOwner | QFileDevice::WriteUser |
                             QFileDevice::WriteGroup | QFileDevice::WriteOther);
        if (!l_Old.remove())
        {
            // Free again once its holder closes it: the verified ".part" waits for that.
            if (Platform::InUse(PlatformPath(m_Final)))
                return Placing::InUse;
            *p_OldError = l_Old.errorString();
        }
    }
    if (!QFile::rename(m_Part, m_Final))
        return Platform::InUse(PlatformPath(m_Part)) ? Placing::InUse : Placing::Refused;
    ApplyAttributes(m_Final, m_Flags);
    return Placing::Placed;
}

QString PartFile::Held() const
{
    if (Platform::InUse(PlatformPath(m_Part)))
        return m_Part;
    return Platform::InUse(PlatformPath(m_Final)) ? m_Final : QString();
}

void PartFile::ApplyAttributes(const QString& p_Path, int32_t p_Flags)
{
    if (p_Flags & FlagReadOnly)
        Platform::MakeReadOnly(PlatformPath(p_Path));
    if (p_Flags & FlagFullPermissions)
        Platform::MakeFullPermissions(PlatformPath(p_Path));
}

} // namespace Launcher
} // namespace Orvane
