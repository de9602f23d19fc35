#pragma once
#include <QString>

namespace Orvane {
namespace Launcher {

/// The install folder as a boundary: which relative paths stay inside it, and
/// clean-up of the folders that deletions left empty.
class InstallFolder
{
public:
    explicit InstallFolder(const QString& p_Folder);

    /// True when the folder is set and folder + p_RelativePath stays inside it.
    bool Contains(const QString& p_RelativePath) const;

    /// Removes the empty folders between p_DeletedPath's folder and the install
    /// folder (never the install folder itself nor anything above it).
    void RemoveEmptyParents(const QString& p_DeletedPath) const;

private:
    QString m_Root; ///< cleaned absolute path, no trailing "/"
};

} // namespace Launcher
} // namespace Orvane
