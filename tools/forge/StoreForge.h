#pragma once
#include "tools/forge/ForgeBlob.h"
#include "tools/forge/ForgeOptions.h"
#include "tools/forge/StoreLayout.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace Orvane {
namespace CASC {
namespace Forge {

/// Everything a forge run produces, in memory, before it is written.
struct ForgedStore
{
    ForgeOptions m_Options;
    std::vector<ForgeBlob> m_Blobs;
    std::vector<CdnArchiveLayout> m_CdnLayout;
    std::vector<LocalArchiveLayout> m_LocalLayout;
    QStringList m_CdnArchiveNames; ///< data archives, then patch archives
    std::vector<QByteArray> m_CdnIndices;
    QByteArray m_Encoding;       ///< the BLTE blob
    QString m_EncodingContentKey;
    QString m_EncodingKey;
    qint64 m_EncodingContentSize = 0;
    QString m_CdnConfigKey, m_BuildConfigKey, m_PatchConfigKey;
    QByteArray m_CdnConfig, m_BuildConfig, m_PatchConfig;
    QString m_VersionName;
    QStringList m_Regions;
    QStringList m_MissingFiles; ///< files of the installation left out on purpose, relative to it
};

/// Builds a whole store from options, then writes it below the output folder.
class StoreForge
{
public:
    enum class Result { Ok, UsageError, IoError };

    /// Reads or generates the content, encodes it and lays out both sides of the store.
    static Result Build(const ForgeOptions& p_Options, ForgedStore& p_Store, QString& p_Error);
    /// Writes cdn/, install/ and, last, forge.json below p_Store.m_Options.m_OutDir.
    static bool Write(const ForgedStore& p_Store, QString& p_Error);

private:
    static Result EncodeContent(ForgedStore& p_Store, QString& p_Error);
    static void BuildCdnSide(ForgedStore& p_Store);
    static bool WriteCdn(const ForgedStore& p_Store, QString& p_Error);
    static bool WriteInstall(const ForgedStore& p_Store, QString& p_Error);
    static QByteArray LocalArchive(const ForgedStore& p_Store, const LocalArchiveLayout& p_Layout);
};

} // namespace Forge
} // namespace CASC
} // namespace Orvane
