#pragma once
#include "tools/forge/ForgeOptions.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace Orvane {
namespace CASC {
namespace Forge {

/// One file of the store's content, before encoding.
struct ContentFile
{
    QString m_Path; ///< relative, '/'-separated
    QByteArray m_Data;
};

/// The content a store is forged from: the files of a folder or generated files.
class ForgeContent
{
public:
    /// p_Options.m_Files files whose sizes and bytes follow from the seed alone.
    static std::vector<ContentFile> Generate(const ForgeOptions& p_Options);
    /// Every regular file under p_Folder (symbolic links are not followed), sorted by path.
    /// Fails, with the file named in p_Error, when one cannot be read.
    static bool ReadFolder(const QString& p_Folder, std::vector<ContentFile>& p_Files, QString& p_Error);
};

} // namespace Forge
} // namespace CASC
} // namespace Orvane
