#include "tools/InspectCommand.h"

#include "casc/CASCTables.h"
#include "tools/CascToolExit.h"

#include <QJsonArray>

namespace Orvane {
namespace CASC {

int InspectCommand::Tables(const Arguments& p_Parsed, const QByteArray& p_Bytes, QTextStream& p_Out, QTextStream& p_Err)
{
    CASCCdnTable l_Cdns;
    CASCVersionTable l_Versions;
    const int l_CdnRows = CASCTables::ParseCdns(p_Bytes, l_Cdns);
    const int l_VersionRows = CASCTables::ParseVersions(p_Bytes, l_Versions);
    if (l_CdnRows == 0 && l_VersionRows == 0)
        return Fail(p_Err, CascToolExit::DataError,
                                    p_Parsed.m_File + ": no row of 3 (cdns) or 5 (versions) columns of a known region");
    const bool l_IsCdns = l_CdnRows >= l_VersionRows;
    QJsonArray l_Regions;
    if (l_IsCdns)
        for (const auto& l_Region : l_Cdns)
        {
            QJsonArray l_Entries;
            for (const CASCCdnEntry& l_Entry : l_Region.second)
            {
                l_Entries.append(QJsonObject{{"path", l_Entry._Path}, {"host", l_Entry._Host}});
                p_Out << (p_Parsed.m_Json ? QString() : QString("region %1 (%2): path %3 host %4\n")
                                                          .arg(l_Region.first)
                                                          .arg(CASCTables::RegionName(l_Region.first), l_Entry._Path,
                                                               l_Entry._Host));
            }
            l_Regions.append(QJsonObject{{"region", l_Region.first},
                                         {"name", CASCTables::RegionName(l_Region.first)},
                                         {"entries", l_Entries}});
        }
    else
        for (const auto& l_Region : l_Versions)
        {
            const CASCVersionEntry& l_Entry = l_Region.second;
            l_Regions.append(QJsonObject{{"region", l_Region.first},
                                         {"name", CASCTables::RegionName(l_Region.first)},
                                         {"buildConfig", l_Entry._BuildConfig},
                                         {"cdnConfig", l_Entry._CdnConfig},
                                         {"buildNumber", double(l_Entry._BuildNumber)},
                                         {"versionName", l_Entry._VersionName}});
            p_Out << (p_Parsed.m_Json ? QString() : QString("region %1 (%2): build config %3 cdn config %4 build %5 version %6\n")
                                                      .arg(l_Region.first)
                                                      .arg(CASCTables::RegionName(l_Region.first), l_Entry._BuildConfig,
                                                           l_Entry._CdnConfig)
                                                      .arg(l_Entry._BuildNumber)
                                                      .arg(l_Entry._VersionName));
        }
    const int l_Rows = l_IsCdns ? l_CdnRows : l_VersionRows;
    if (p_Parsed.m_Json)
        PrintJson(QJsonObject{{"table", l_IsCdns ? "cdns" : "versions"}, {"rows", l_Rows},
                                              {"regions", l_Regions}}, p_Out);
    else
        p_Out << (l_IsCdns ? "cdns" : "versions") << " table: " << l_Rows << " rows\n";
    return 0;
}

} // namespace CASC
} // namespace Orvane
