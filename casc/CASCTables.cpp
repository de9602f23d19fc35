#include "casc/CASCTables.h"

#include "platform/QtCompat.h"

namespace Orvane {
namespace CASC {

namespace {

struct Region
{
    const char* m_Name;
    int m_Number;
};
constexpr Region s_Regions[] = {{"us", 0}, {"xx", 1}, {"eu", 2}, {"kr", 3}, {"cn", 5}};

} // namespace

bool CASCTables::RegionNumber(const QString& p_Name, int& p_Number)
{
    const QString l_Lower = p_Name.toLower();
    for (const Region& l_Region : s_Regions)
        if (l_Lower == QLatin1String(l_Region.m_Name))
        {
            p_Number = l_Region.m_Number;
            return true;
        }
    return false;
}

QString CASCTables::RegionName(int p_Number)
{
    for (const auto& l_Region : s_Regions)
        if (l_Region.m_Number == p_Number)
            return QString::fromLatin1(l_Region.m_Name);
    return QString();
}

QList<QStringList> CASCTables::Rows(const QByteArray& p_Body, int p_Columns, QList<int>& p_Regions)
{
    QList<QStringList> l_Rows;
    const QStringList l_Lines = QString::fromUtf8(p_Body).split('\n', Compat::SkipEmptyParts);
    for (int l_I = 1; l_I < l_Lines.size(); ++l_I) // the first line is the column header
    {
        const QStringList l_Parts = l_Lines.at(l_I).split('|', Compat::SkipEmptyParts);
        int l_Region = 0;
        // A row of an unknown region is skipped rather than filed under another region's number.
        if (l_Parts.size() != p_Columns || !RegionNumber(l_Parts.at(0), l_Region))
            continue;
        l_Rows.append(l_Parts);
        p_Regions.append(l_Region);
    }
    return l_Rows;
}

int CASCTables::ParseCdns(const QByteArray& p_Body, CASCCdnTable& p_Table)
{
    QList<int> l_Regions;
    const QList<QStringList> l_Rows = Rows(p_Body, 3, l_Regions);
    for (int l_R = 0; l_R < l_Rows.size(); ++l_R)
    {
        const QStringList& l_Row = l_Rows.at(l_R);
        QString l_Hosts = l_Row.at(2);
        l_Hosts.remove('\r');
        QList<CASCCdnEntry>& l_List = p_Table[l_Regions.at(l_R)];
        for (const QString& l_Host : l_Hosts.split(' ', Compat::SkipEmptyParts))
            l_List.append(CASCCdnEntry{l_Regions.at(l_R), l_Row.at(1), l_Host});
    }
    return l_Rows.size();
}

int CASCTables::ParseVersions(const QByteArray& p_Body, CASCVersionTable& p_Table)
{
    QList<int> l_Regions;
    const QList<QStringList> l_Rows = Rows(p_Body, 5, l_Regions);
    for (int l_R = 0; l_R < l_Rows.size(); ++l_R)
    {
        const QStringList& l_Row = l_Rows.at(l_R);
        p_Table[l_Regions.at(l_R)] =
            CASCVersionEntry{l_Regions.at(l_R), l_Row.at(1), l_Row.at(2), l_Row.at(3).toUInt(), l_Row.at(4)};
    }
    return l_Rows.size();
}

} // namespace CASC
} // namespace Orvane
