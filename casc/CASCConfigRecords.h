#pragma once
#include <QList>
#include <QString>
#include <QStringList>

namespace Orvane {
namespace CASC {

/// The CDN configuration: which archives make up the store. Empty fields: key absent.
struct CASCCDNConfig
{
    QStringList _Archives;         ///< "archives = "
    QString _ArchiveGroup;         ///< "archive-group = "
    QStringList _PatchArchives;    ///< "patch-archives = "
    QString _PatchArchiveGroup;    ///< "patch-archive-group = "
    QStringList _Builds;           ///< "builds = "
};

/// The build configuration: keys of the build's files, its name and patch data.
struct CASCBuildConfig
{
    QString _Root;                    ///< "root = "
    QString _Download;                ///< "download = "
    QString _Install;                 ///< "install = "
    QStringList _Encoding;            ///< "encoding = ": content key, then encoding key
    QList<qint64> _EncodingSizes;     ///< "encoding-size = "
    QString _BuildName;               ///< "build-name = "
    QString _BuildPlaybuildInstaller; ///< "build-playbuild-installer = "
    QString _BuildProduct;            ///< "build-product = "
    QString _BuildUid;                ///< "build-uid = "
    QString _Patch;                   ///< "patch = "
    qint64 _PatchSize = 0;            ///< "patch-size = "
    QString _PatchConfig;             ///< "patch-config = "
};

} // namespace CASC
} // namespace Orvane
