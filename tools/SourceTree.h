#pragma once
#include <QString>
#include <QStringList>
#include <map>

namespace Orvane {
namespace Publish {

/// The files of a build folder, as sorted relative paths with "/" separators.
class SourceTree
{
public:
    explicit SourceTree(const QString& p_Root);

    /// Lists every regular file, and apart from them every symbolic link (never followed: a link
    /// may lead out of the folder, to a file no one meant to publish). Anything else that cannot
    /// be published as a file (FIFO, device, socket, unreadable folder) is an error that names it.
    bool Scan(QString& p_Error);

    const QStringList& Files() const { return m_Files; }
    /// Relative path of each link -> the absolute path it points to.
    const std::map<QString, QString>& Links() const { return m_Links; }

private:
    bool ScanFolder(const QString& p_Relative, QString& p_Error);

    QString m_Root;
    QStringList m_Files;
    std::map<QString, QString> m_Links;
};

} // namespace Publish
} // namespace Orvane
