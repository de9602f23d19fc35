#pragma once
#include "tools/PublishOptions.h"
#include "tools/SourceTree.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <vector>

namespace Orvane {
namespace Publish {

/// Publishes one build: stages everything in a temporary folder inside the
/// output folder, then moves it into place with the version documents last.
class BuildPublisher
{
public:
    explicit BuildPublisher(const PublishOptions& p_Options);

    /// 0 when published, 1 on failure (p_Error says what; the output folder
    /// still serves what it served before).
    int Run(QString& p_Error);

    /// Notes for the operator (rules that matched nothing, odd flags, no CDN host).
    const QStringList& Warnings() const { return m_Warnings; }
    QString Summary() const;

private:
    struct Entry
    {
        QString m_Path;
        QString m_Location;
        QString m_Md5;
        qint64 m_Size = 0;
        int32_t m_Flags = 0;
        QString m_Locale;
        bool m_Streamed = false;
    };

    bool SelectFiles(const SourceTree& p_Tree, QString& p_Error);
    bool IsExcluded(const QString& p_Path);
    bool CheckPath(const QString& p_Path, QString& p_Error) const;
    bool StageFiles(const QString& p_Staging, QString& p_Error);
    bool WriteDocuments(const QString& p_Staging, QString& p_Error);
    /// A build id already published stays as clients know it, unless --replace.
    bool CheckPublished(const QString& p_Staging, QString& p_Error);
    bool Commit(const QString& p_Staging, QString& p_Error);
    void CollectWarnings();
    QJsonObject ManifestJson() const;

    static bool WriteFile(const QString& p_Path, const QByteArray& p_Data, QString& p_Error);
    /// Renames p_From over p_To (creating p_To's folder); replaces an existing file.
    static bool MoveInto(const QString& p_From, const QString& p_To, QString& p_Error);

    const PublishOptions& m_Options;
    std::vector<Entry> m_Entries;
    QStringList m_Warnings;
    std::vector<int> m_FlagRuleHits;
    std::vector<int> m_LocaleRuleHits;
    std::vector<int> m_StreamedHits;
    std::vector<int> m_ExcludedHits;
    QStringList m_Documents; ///< staged documents, relative to the output folder, in commit order
    QString m_CdnHosts;    ///< what "cdns.info" holds after the run
    bool m_CdnKept = false; ///< "cdns.info" left as it was (no --cdn, no --no-cdn)
    QString m_Replaced;    ///< what changed in a build published again with --replace
    qint64 m_TotalBytes = 0;
    int m_NewFiles = 0;
};

} // namespace Publish
} // namespace Orvane
