#pragma once
#include <QByteArray>
#include <QString>

namespace Orvane {
namespace CASC {
namespace Forge {

/// Writes files below one root folder, creating folders on the way, and keeps the first failure.
class OutputTree
{
public:
    explicit OutputTree(const QString& p_Root);

    /// Writes p_Data to root/p_Relative through a temporary file renamed into place.
    bool Write(const QString& p_Relative, const QByteArray& p_Data);
    /// What failed and where, after Write returned false.
    QString Error() const { return m_Error; }

    /// K[0..2]/K[2..4]/K: where the CDN keeps a file named by a key.
    static QString KeyedPath(const QString& p_Key);

private:
    QString m_Root;
    QString m_Error;
};

} // namespace Forge
} // namespace CASC
} // namespace Orvane
