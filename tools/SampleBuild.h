#pragma once
#include <QString>
#include <cstdint>
#include <vector>

namespace Orvane {
namespace Publish {

/// A made-up game folder for demos, tests and benchmarks: clients, archives,
/// two languages, base and streamed parts, and a file for every flag. The same
/// seed, file count and size always give the same bytes.
class SampleBuild
{
public:
    struct File
    {
        QString m_Path;
        qint64 m_Size = 0;
        uint64_t m_Seed = 0;
    };

    SampleBuild(int p_FileCount, qint64 p_TotalBytes, uint64_t p_Seed);

    const std::vector<File>& Files() const { return m_Files; }
    qint64 TotalBytes() const;

    /// Writes every file under p_Root (created; existing files are overwritten).
    bool Write(const QString& p_Root, QString& p_Error) const;

    /// The smallest file count the layout needs.
    static int MinimumFileCount();

private:
    static bool WriteFile(const QString& p_Path, qint64 p_Size, uint64_t p_Seed, QString& p_Error);

    std::vector<File> m_Files;
};

} // namespace Publish
} // namespace Orvane
