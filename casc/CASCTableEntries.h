#pragma once
#include <QList>
#include <QString>

#include <map>

namespace Orvane {
namespace CASC {

/// One line of the "versions" table: the build a region installs.
struct CASCVersionEntry
{
    int _Region = 0;
    QString _BuildConfig; ///< key of the build configuration, as the table writes it
    QString _CdnConfig;   ///< key of the CDN configuration
    quint32 _BuildNumber = 0;
    QString _VersionName;
};

/// One host of one line of the "cdns" table.
struct CASCCdnEntry
{
    int _Region = 0;
    QString _Path; ///< CDN path prefix under which the store is served
    QString _Host; ///< host[:port]
};

using CASCVersionTable = std::map<int, CASCVersionEntry>;
using CASCCdnTable = std::map<int, QList<CASCCdnEntry>>;

} // namespace CASC
} // namespace Orvane
