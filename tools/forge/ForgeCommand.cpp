#include "tools/forge/ForgeCommand.h"

#include "tools/forge/ForgeOptions.h"
#include "tools/forge/StoreForge.h"
#include "tools/CascToolExit.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace Orvane {
namespace CASC {
namespace Forge {

namespace {

int Fail(QTextStream& p_Err, int p_Status, const QString& p_Message)
{
    p_Err << "casc-tool forge: " << p_Message << "\n";
    p_Err.flush();
    return p_Status;
}

/// Removes what an earlier run wrote, and nothing else of the folder.
bool ClearEarlierRun(const QString& p_Out, QString& p_Error)
{
    const QDir l_Out(p_Out);
    for (const char* l_Folder : {"cdn", "install"})
    {
        QDir l_Dir(l_Out.filePath(l_Folder));
        if (l_Dir.exists() && !l_Dir.removeRecursively())
        {
            p_Error = "cannot remove " + l_Dir.path();
            return false;
        }
    }
    const QString l_Summary = l_Out.filePath("forge.json");
    if (QFileInfo::exists(l_Summary) && !QFile::remove(l_Summary))
    {
        p_Error = "cannot remove " + l_Summary;
        return false;
    }
    return true;
}

} // namespace

QString ForgeCommand::Usage()
{
    return ForgeOptions::Usage();
}

int ForgeCommand::Run(const QStringList& p_Args, QTextStream& p_Out, QTextStream& p_Err)
{
    ForgeOptions l_Options;
    QString l_Error;
    switch (ForgeOptions::Parse(p_Args, l_Options, l_Error))
    {
    case ForgeOptions::ParseResult::Help:
        p_Out << Usage();
        p_Out.flush();
        return 0;
    case ForgeOptions::ParseResult::UsageError:
        return Fail(p_Err, CascToolExit::Usage, l_Error);
    case ForgeOptions::ParseResult::Ok:
        break;
    }

    const QFileInfo l_OutInfo(l_Options.m_OutDir);
    if (l_OutInfo.exists() && !l_OutInfo.isDir())
        return Fail(p_Err, CascToolExit::Usage, l_Options.m_OutDir + " is not a folder");
    // Empty folders hold nothing to lose (a web server may already serve OUT/cdn).
    const bool l_NonEmpty =
        l_OutInfo.exists() && QDirIterator(l_Options.m_OutDir, QDir::Files | QDir::Hidden | QDir::System,
                                           QDirIterator::Subdirectories)
                                  .hasNext();
    if (l_NonEmpty && !l_Options.m_Force)
        return Fail(p_Err, CascToolExit::Usage, l_Options.m_OutDir + " holds files (--force writes into it)");

    ForgedStore l_Store;
    switch (StoreForge::Build(l_Options, l_Store, l_Error))
    {
    case StoreForge::Result::UsageError:
        return Fail(p_Err, CascToolExit::Usage, l_Error);
    case StoreForge::Result::IoError:
        return Fail(p_Err, CascToolExit::NoInput, l_Error);
    case StoreForge::Result::Ok:
        break;
    }
    if (l_NonEmpty && !ClearEarlierRun(l_Options.m_OutDir, l_Error))
        return Fail(p_Err, CascToolExit::CantCreate, l_Error);
    if (!StoreForge::Write(l_Store, l_Error))
        return Fail(p_Err, CascToolExit::CantCreate, l_Error);

    int l_Damaged = 0;
    for (const ForgeBlob& l_Blob : l_Store.m_Blobs)
        l_Damaged += l_Blob.m_Damage != SlotDamage::None;
    const QDir l_Out(l_Options.m_OutDir);
    p_Out << "forged " << l_Store.m_Blobs.size() << " blobs (" << l_Damaged << " damaged slots)\n"
          << "  CDN document root: " << l_Out.filePath("cdn") << "\n"
          << "  installation:      " << l_Out.filePath("install") << "\n"
          << "  summary:           " << l_Out.filePath("forge.json") << "\n"
          << "  build config " << l_Store.m_BuildConfigKey << ", CDN config " << l_Store.m_CdnConfigKey << "\n";
    p_Out.flush();
    return 0;
}

} // namespace Forge
} // namespace CASC
} // namespace Orvane
