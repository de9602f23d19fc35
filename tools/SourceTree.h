#pragma once
#include <QString>
#include <QStringList>

namespace Orvane {
namespace Publish {

/// The files of a build folder, as sorted relative paths with "/" separators.
class SourceTree
{
public:
    explicit SourceTree(const QString& p_Root);

    /// Lists every regular file (symbolic links to files included). Anything
    /// that cannot be published as a file (broken link, FIFO, device, socket,
    /// unreadable folder) is an error that names it.
    bool Scan(QString& p_Error);

    const QStringList& Files() const { return m_Files; }

private:
    bool ScanFolder(const QString& p_Relative, QStringList& p_Ancestors, QString& p_Error);

    QString m_Root;
    QStringList m_Files;
};

} // namespace Publish
} // namespace Orvane
