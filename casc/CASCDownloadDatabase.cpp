#include "casc/CASCDownloadDatabase.h"

#include <QFile>
#include <QSaveFile>

namespace Orvane {
namespace CASC {

bool CASCDownloadDatabase::Write(const QString& p_Path, const std::vector<QByteArray>& p_Keys, QString* p_Error)
{
    QSaveFile l_File(p_Path);
    if (l_File.open(QIODevice::WriteOnly))
    {
        QByteArray l_Text;
        l_Text.reserve(int(p_Keys.size()) * 19);
        for (const QByteArray& l_Key : p_Keys)
            l_Text.append(l_Key.left(9).toHex()).append('\n');
        // Flushed and checked first: commit() may rename a file whose last write failed (a full disk).
        if (l_File.write(l_Text) == l_Text.size() && l_File.flush() && l_File.error() == QFileDevice::NoError &&
            l_File.commit())
            return true;
        l_File.cancelWriting();
    }
    if (p_Error)
        *p_Error = p_Path + ": " + l_File.errorString();
    return false;
}

std::set<QByteArray> CASCDownloadDatabase::Read(const QString& p_Path)
{
    std::set<QByteArray> l_Keys;
    QFile l_File(p_Path);
    if (!l_File.open(QIODevice::ReadOnly))
        return l_Keys;
    while (!l_File.atEnd())
    {
        const QByteArray l_Line = l_File.readLine().trimmed();
        const QByteArray l_Key = QByteArray::fromHex(l_Line);
        if (l_Line.size() == 18 && l_Key.size() == 9)
            l_Keys.insert(l_Key);
    }
    return l_Keys;
}

} // namespace CASC
} // namespace Orvane
