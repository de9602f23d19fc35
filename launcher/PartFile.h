#pragma once
#include <QString>
#include <cstdint>

namespace Orvane {
namespace Launcher {

struct ManifestFile;

/// A file of the install folder and the ".part" it is downloaded into: the step that moves a checked
/// ".part" into place, with the file's attributes. Paths only: no state beyond them.
class PartFile
{
public:
    PartFile(const QString& p_Folder, const ManifestFile& p_Entry);

    const QString& Part() const { return m_Part; }
    const QString& Final() const { return m_Final; }
    /// Size of the ".part"; -1 when there is none.
    qint64 Size() const;
    /// An empty file produces no write: its ".part" is created empty.
    void CreateEmpty() const;
    /// Bad bytes never reach the final name: the ".part" goes.
    void Discard() const;
    enum class Placing
    {
        Placed,
        InUse,  ///< another program holds the old file or the ".part" open: both stay as they are
        Refused ///< the ".part" could not be renamed: it stays
    };
    /// Replaces the file by its ".part" (an old file goes first, read-only or not) and gives it the
    /// entry's attributes. p_OldError tells why an old file could not be removed (empty: it could, or it
    /// is in use).
    Placing MoveIntoPlace(QString* p_OldError) const;

    /// The one of the two that another program holds open (the ".part" first); empty when neither is.
    QString Held() const;

    /// Flags 0x01 (read-only) and 0x02 (full permissions) of p_Flags on the file at p_Path.
    static void ApplyAttributes(const QString& p_Path, int32_t p_Flags);

private:
    const QString m_Final;
    const QString m_Part;
    const int32_t m_Flags;
};

} // namespace Launcher
} // namespace Orvane
