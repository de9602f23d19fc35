#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Orvane {
namespace CASC {
namespace Forge {

/// Writes the text files of a store: the three configuration files (named on the CDN by the
/// MD5 of their text) and the "cdns" and "versions" tables. "key = value" lines, LF line ends.
class ConfigFileWriter
{
public:
    struct BuildFields
    {
        QString m_Root;
        QString m_Download;
        QString m_Install;
        QString m_EncodingContentKey;
        QString m_EncodingKey;
        qint64 m_EncodingContentSize = 0;
        qint64 m_EncodingEncodedSize = 0;
        QString m_BuildName;
        QString m_BuildUid;
        QString m_BuildProduct;
        QString m_Patch;
        qint64 m_PatchSize = 0;
        QString m_PatchConfig;
    };

    static QByteArray PatchConfig(const QString& p_Patch, qint64 p_PatchSize);
    static QByteArray BuildConfig(const BuildFields& p_Fields);
    /// Leaves out the patch archive lines when there are none.
    static QByteArray CdnConfig(const QStringList& p_Archives, const QStringList& p_PatchArchives,
                                const QString& p_BuildConfig);
    /// One line per region: "NAME|PATH|HOST HOST ...".
    static QByteArray CdnsTable(const QStringList& p_Regions, const QString& p_Path, const QStringList& p_Hosts);
    static QByteArray VersionsTable(const QStringList& p_Regions, const QString& p_BuildConfig,
                                    const QString& p_CdnConfig, quint32 p_BuildId, const QString& p_VersionName);

    /// Lower-case hex MD5 of a text: the name under which the CDN serves it.
    static QString Key(const QByteArray& p_Text);
    /// An archive group key: MD5 over the archive names.
    static QString GroupKey(const QStringList& p_Archives);
};

} // namespace Forge
} // namespace CASC
} // namespace Orvane
