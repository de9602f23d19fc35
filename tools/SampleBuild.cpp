#include "tools/SampleBuild.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <vector>

namespace Orvane {
namespace Publish {

namespace {

/// splitmix64: tiny, fast and the same everywhere.
struct Random
{
    uint64_t m_State;
    explicit Random(uint64_t p_Seed) : m_State(p_Seed) {}
    uint64_t Next()
    {
        uint64_t l_Z = (m_State += 0x9E3779B97F4A7C15ull);
        l_Z = (l_Z ^ (l_Z >> 30)) * 0xBF58476D1CE4E5B9ull;
        l_Z = (l_Z ^ (l_Z >> 27)) * 0x94D049BB133111EBull;
        return l_Z ^ (l_Z >> 31);
    }
};

/// The named files and their share of the total size (per mille).
struct Fixed
{
    const char* m_Path;
    int m_PerMille;
};

const Fixed s_Fixed[] = {
    {"Wow.exe", 20},
    {"Wow-64.exe", 25},
    {"Data/data/data.000", 120},
    {"Data/data/data.001", 120},
    {"Data/data/data.002", 120},
    {"Data/data/data.003", 120},
    {"Data/enUS/locale-enUS.MPQ", 50},
    {"Data/frFR/locale-frFR.MPQ", 50},
    {"Data/Streamed/stream.000", 50},
    {"Data/Streamed/stream.001", 50},
    {"Data/Streamed/stream.002", 50},
    {"Data/Streamed/stream.003", 50},
    {"Data/Streamed/enUS/speech-enUS.MPQ", 20},
    {"Data/Streamed/frFR/speech-frFR.MPQ", 20},
    {"Data/Tracked/patch-tracked.MPQ", 10},
    {"Fonts/FRIZQT__.TTF", 2},
    {"Utils/BlizzardError.exe", 2},
    {"Launcher.dat", 1},
    {"Cache/ADB/DBCache.bin", 1},
    {"Interface/empty.txt", 0},
};

} // namespace

int SampleBuild::MinimumFileCount()
{
    return int(sizeof(s_Fixed) / sizeof(s_Fixed[0])) + 2;
}

SampleBuild::SampleBuild(int p_FileCount, qint64 p_TotalBytes, uint64_t p_Seed)
{
    Random l_Random(p_Seed);
    qint64 l_Used = 0;
    for (const Fixed& l_Fixed : s_Fixed)
    {
        File l_File;
        l_File.m_Path = QString::fromLatin1(l_Fixed.m_Path);
        // An odd size, so that no file is a whole number of read blocks by accident.
        l_File.m_Size = l_Fixed.m_PerMille ? p_TotalBytes / 1000 * l_Fixed.m_PerMille + qint64(l_Random.Next() % 4093) : 0;
        l_File.m_Seed = l_Random.Next();
        l_Used += l_File.m_Size;
        m_Files.push_back(l_File);
    }
    // The rest of the bytes spread over small files, half base add-ons and half
    // streamed textures, each between half and one and a half times the mean.
    const int l_Small = std::max(2, p_FileCount - int(m_Files.size()));
    const qint64 l_Mean = std::max<qint64>(1, (p_TotalBytes - l_Used) / l_Small);
    for (int l_I = 0; l_I < l_Small; ++l_I)
    {
        File l_File;
        l_File.m_Path = l_I % 2 == 0 ? QString("Interface/AddOns/Addon%1/file%2.lua").arg(l_I / 20, 2, 10, QChar('0')).arg(l_I, 4, 10, QChar('0'))
                                     : QString("Data/Streamed/Textures/tex%1.blp").arg(l_I, 4, 10, QChar('0'));
        l_File.m_Size = l_Mean / 2 + qint64(l_Random.Next() % uint64_t(l_Mean + 1));
        l_File.m_Seed = l_Random.Next();
        m_Files.push_back(l_File);
    }
}

qint64 SampleBuild::TotalBytes() const
{
    qint64 l_Total = 0;
    for (const File& l_File : m_Files)
        l_Total += l_File.m_Size;
    return l_Total;
}

bool SampleBuild::Write(const QString& p_Root, QString& p_Error) const
{
    for (const File& l_File : m_Files)
        if (!WriteFile(p_Root + "/" + l_File.m_Path, l_File.m_Size, l_File.m_Seed, p_Error))
            return false;
    return true;
}

bool SampleBuild::WriteFile(const QString& p_Path, qint64 p_Size, uint64_t p_Seed, QString& p_Error)
{
    if (!QDir().mkpath(QFileInfo(p_Path).absolutePath()))
    {
        p_Error = "cannot create folder " + QFileInfo(p_Path).absolutePath();
        return false;
    }
    QFile l_File(p_Path);
    if (!l_File.open(QIODevice::WriteOnly | QIODevice::Truncate))
    {
        p_Error = "cannot write " + p_Path + ": " + l_File.errorString();
        return false;
    }
    Random l_Random(p_Seed);
    std::vector<uint64_t> l_Block(32768); // 256 KiB
    qint64 l_Left = p_Size;
    while (l_Left > 0)
    {
        for (uint64_t& l_Word : l_Block)
            l_Word = l_Random.Next();
        const qint64 l_Bytes = std::min<qint64>(l_Left, qint64(l_Block.size() * sizeof(uint64_t)));
        if (l_File.write(reinterpret_cast<const char*>(l_Block.data()), l_Bytes) != l_Bytes)
        {
            p_Error = "cannot write " + p_Path + ": " + l_File.errorString();
            return false;
        }
        l_Left -= l_Bytes;
    }
    l_File.close();
    if (l_File.error() != QFileDevice::NoError)
    {
        p_Error = "cannot write " + p_Path + ": " + l_File.errorString();
        return false;
    }
    return true;
}

} // namespace Publish
} // namespace Orvane
