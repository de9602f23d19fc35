#pragma once
#include "casc/CASCTableEntries.h"

#include <QByteArray>

namespace Orvane {
namespace CASC {

/// Parses the "cdns" and "versions" tables the CDN publishes: a header line, then
/// "|"-separated rows whose first column names a world region.
class CASCTables
{
public:
    /// Region number of a table's region name (any letter case); false for an unknown name.
    static bool RegionNumber(const QString& p_Name, int& p_Number);
    /// The region name of a number ("us", "eu" ...), empty for an unknown number.
    static QString RegionName(int p_Number);

    /// Adds every host of every 3-column row to p_Table, in row order. Returns the rows taken.
    static int ParseCdns(const QByteArray& p_Body, CASCCdnTable& p_Table);
    /// Files every 5-column row under its region (a later row replaces an earlier one).
    /// Returns the rows taken.
    static int ParseVersions(const QByteArray& p_Body, CASCVersionTable& p_Table);

private:
    /// The data rows of a table that have exactly p_Columns non-empty columns and a known region.
    static QList<QStringList> Rows(const QByteArray& p_Body, int p_Columns, QList<int>& p_Regions);
};

} // namespace CASC
} // namespace Orvane
