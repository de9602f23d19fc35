#pragma once
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <map>
#include <set>

namespace Orvane {
namespace CASC {
namespace Forge {

/// How a slot of a local archive is spoiled on purpose.
enum class SlotDamage
{
    None,
    MissingArchive, ///< the data.NNN that should hold it does not exist
    Zeroed,         ///< header and blob are zero bytes
    Truncated,      ///< the archive ends inside the slot
    OtherBlob,      ///< holds the header and blob of another entry
};

/// What one run of `casc-tool forge` was asked to build.
struct ForgeOptions
{
    QString m_OutDir;
    QString m_FromDir; ///< empty: generated content
    int m_Files = 64;
    qint64 m_MinSize = 1024;
    qint64 m_MaxSize = 64 * 1024;
    quint64 m_Seed = 1;
    qint64 m_ChunkSize = 16 * 1024;
    bool m_Zlib = true;
    QString m_CdnPath = QStringLiteral("tpr/wow");
    QStringList m_Hosts = {QStringLiteral("127.0.0.1:8081")};
    int m_DataArchives = 2;
    int m_PatchArchives = 1;
    int m_LocalArchives = 2;
    int m_FirstArchive = 0;
    quint32 m_BuildId = 31478;
    bool m_Force = false;

    // Damage to the installation folder.
    bool m_NoLocalArchives = false;
    std::set<int> m_DroppedArchives;           ///< local archive numbers
    std::map<int, SlotDamage> m_SlotDamage;    ///< blob number -> damage
    std::map<int, int> m_SwapWith;             ///< blob number -> blob whose bytes it holds (-1: the next one)
    std::set<QString> m_MissingConfigs;        ///< "cdn", "build", "patch"
    bool m_MissingAllIndices = false;
    std::set<int> m_MissingIndices;            ///< CDN archive numbers
    bool m_MissingEncoding = false;
    std::set<int> m_WrongContent; ///< blob numbers whose encoding record names another content key

    QStringList m_Arguments; ///< as given, for the summary

    enum class ParseResult { Ok, Help, UsageError };
    /// Reads the arguments that follow "forge". On UsageError p_Error says why, in one line.
    static ParseResult Parse(const QStringList& p_Arguments, ForgeOptions& p_Options, QString& p_Error);
    static QString Usage();

    static const char* DamageName(SlotDamage p_Damage);
};

} // namespace Forge
} // namespace CASC
} // namespace Orvane
