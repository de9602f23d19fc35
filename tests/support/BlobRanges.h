#pragma once
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <set>

/// The blobs that ranged requests of a store's CDN archives asked for. A request may cover several
/// blobs of one archive (neighbours merged, the bytes between them skipped): each is listed as
/// "ARCHIVE bytes=FIRST-LAST" on its own. A request that does not start at the first byte of one of
/// p_Wanted and end at the last byte of one is listed whole with " unaligned"; a blob asked twice
/// is listed twice. Sorted, to compare with the wanted blobs' own lines.
inline QStringList BlobsAsked(const QStringList& p_Asked, const QStringList& p_Wanted)
{
    struct Range
    {
        QString Archive;
        qint64 From, To;
    };
    const auto l_Parse = [](const QString& p_Line) {
        const QStringList l_Bytes = p_Line.section("bytes=", 1).split('-');
        return Range{p_Line.section(' ', 0, 0), l_Bytes.value(0).toLongLong(), l_Bytes.value(1).toLongLong()};
    };
    QStringList l_Blobs;
    for (const QString& l_Line : p_Asked)
    {
        const Range l_Asked = l_Parse(l_Line);
        bool l_Starts = false, l_Ends = false;
        QStringList l_Inside;
        for (const QString& l_WantedLine : p_Wanted)
        {
            const Range l_Blob = l_Parse(l_WantedLine);
            if (l_Blob.Archive != l_Asked.Archive || l_Blob.From < l_Asked.From || l_Blob.To > l_Asked.To)
                continue;
            l_Inside << l_WantedLine;
            l_Starts = l_Starts || l_Blob.From == l_Asked.From;
            l_Ends = l_Ends || l_Blob.To == l_Asked.To;
        }
        if (l_Starts && l_Ends)
            l_Blobs << l_Inside;
        else
            l_Blobs << l_Line + " unaligned";
    }
    l_Blobs.sort();
    return l_Blobs;
}
