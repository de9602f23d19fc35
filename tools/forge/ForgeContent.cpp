#include "tools/forge/ForgeContent.h"

#include "casc/Bytes.h"
#include "platform/Md5.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <random>
#include <set>

namespace Orvane {
namespace CASC {
namespace Forge {

namespace {

QByteArray OneFile(std::mt19937_64& p_Random, qint64 p_MinSize, quint64 p_Span)
{
    const qint64 l_Size = p_MinSize + qint64(p_Random() % p_Span);
    const quint64 l_Style = p_Random() % 3;
    QByteArray l_Data(int(l_Size), Qt::Uninitialized);
    char* l_Out = l_Data.data();
    for (qint64 l_At = 0; l_At < l_Size;)
    {
        quint64 l_Word = p_Random();
        if (l_Style == 0)
        {
            // Noise: zlib cannot shrink it.
            for (int l_Byte = 0; l_Byte < 8 && l_At < l_Size; ++l_Byte, l_Word >>= 8)
                l_Out[l_At++] = char(l_Word & 0xFF);
        }
        else
        {
            // Runs of a few letters: compresses well, like text and tables.
            const char l_Letter = char('a' + l_Word % (l_Style == 1 ? 26 : 4));
            const qint64 l_Run = 1 + qint64((l_Word >> 8) % (l_Style == 1 ? 4 : 64));
            for (qint64 l_N = 0; l_N < l_Run && l_At < l_Size; ++l_N)
                l_Out[l_At++] = l_Letter;
        }
    }
    return l_Data;
}

} // namespace

std::vector<ContentFile> ForgeContent::Generate(const ForgeOptions& p_Options)
{
    // mt19937_64 is fully specified, so the same seed gives the same store on every platform;
    // the std distributions are not, hence the plain modulo.
    std::mt19937_64 l_Random(p_Options.m_Seed);
    const quint64 l_Span = quint64(p_Options.m_MaxSize - p_Options.m_MinSize) + 1;
    std::vector<ContentFile> l_Files;
    l_Files.reserve(size_t(p_Options.m_Files));
    std::set<QByteArray> l_Seen;
    for (int l_Index = 0; l_Index < p_Options.m_Files; ++l_Index)
    {
        ContentFile l_File;
        l_File.m_Path = QStringLiteral("gen/%1.bin").arg(l_Index, 5, 10, QLatin1Char('0'));
        // Identical files would share one blob; a few more draws keep --files N to N blobs
        // wherever the size range leaves room for N different files.
        for (int l_Try = 0; l_Try < 16; ++l_Try)
        {
            l_File.m_Data = OneFile(l_Random, p_Options.m_MinSize, l_Span);
            if (l_Seen.insert(Md5::Hash(l_File.m_Data)).second)
                break;
        }
        l_Files.push_back(std::move(l_File));
    }
    return l_Files;
}

bool ForgeContent::ReadFolder(const QString& p_Folder, std::vector<ContentFile>& p_Files, QString& p_Error)
{
    const QDir l_Root(p_Folder);
    if (!QFileInfo(p_Folder).isDir())
    {
        p_Error = "not a folder: " + p_Folder;
        return false;
    }
    QStringList l_Paths;
    QDirIterator l_It(p_Folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                      QDirIterator::Subdirectories);
    while (l_It.hasNext())
    {
        l_It.next();
        if (l_It.fileInfo().isFile() && !l_It.fileInfo().isSymLink())
            l_Paths.append(l_Root.relativeFilePath(l_It.filePath()));
    }
    std::sort(l_Paths.begin(), l_Paths.end(),
              [](const QString& p_A, const QString& p_B) { return p_A.compare(p_B, Qt::CaseSensitive) < 0; });
    p_Files.clear();
    for (const QString& l_Path : l_Paths)
    {
        QFile l_File(l_Root.filePath(l_Path));
        if (!l_File.open(QIODevice::ReadOnly))
        {
            p_Error = QStringLiteral("cannot read %1: %2").arg(l_File.fileName(), l_File.errorString());
            return false;
        }
        if (l_File.size() > 256LL * 1024 * 1024)
        {
            p_Error = QStringLiteral("%1 is larger than 256 MiB").arg(l_File.fileName());
            return false;
        }
        ContentFile l_Content;
        l_Content.m_Path = l_Path;
        l_Content.m_Data = l_File.readAll();
        if (l_Content.m_Data.size() != l_File.size())
        {
            p_Error = QStringLiteral("cannot read %1: %2").arg(l_File.fileName(), l_File.errorString());
            return false;
        }
        p_Files.push_back(std::move(l_Content));
    }
    return true;
}

} // namespace Forge
} // namespace CASC
} // namespace Orvane
