#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

namespace Orvane {
namespace Launcher {

enum ManifestFlags : int32_t
{
    FlagReadOnly        = 0x01,
    FlagFullPermissions = 0x02,
    FlagClient32        = 0x08,
    FlagClient64        = 0x10,
    FlagTracked         = 0x20,
    FlagFromServer      = 0x40,
    FlagPresenceOnly    = 0x80,
};

struct ManifestFile
{
    int32_t Flags = 0;
    QString Location;
    QString Path;
    QString Md5;
    QString Locale;
};

/// The build's download manifest ("info.json").
struct Manifest
{
    QString BuildId;
    QString BuildStr;
    uint16_t BuildNumber = 0;
    std::map<QString, std::pair<QString, QString>> AvailableLocales;
    std::vector<ManifestFile> BaseFiles;
    std::vector<ManifestFile> StreamedFiles;
};

/// Parses the manifest; *p_Ok is false (and the manifest empty) when the text is
/// not a JSON object. Entries whose path would leave the install folder are dropped.
Manifest ParseManifest(const QByteArray& p_Data, bool* p_Ok);

/// True when p_Path is relative and stays inside the folder it is appended to.
bool IsSafeRelativePath(const QString& p_Path);

} // namespace Launcher
} // namespace Orvane
