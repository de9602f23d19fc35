#pragma once
#include "Files.h"
#include "TestHttpServer.h"

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

/// A blob of the forged store's summary as its lines above: "CDNARCHIVE bytes=FIRST-LAST".
inline QString BlobRange(const QJsonObject& p_Blob)
{
    const qint64 l_From = qint64(p_Blob["cdnOffset"].toDouble());
    return p_Blob["cdnArchive"].toString() +
           QStringLiteral(" bytes=%1-%2").arg(l_From).arg(l_From + qint64(p_Blob["blobSize"].toDouble()) - 1);
}

/// "FILE Range" of each request of p_Requests (a whole-file one ends in "FILE "), sorted.
inline QStringList RangesAsked(const QList<TestHttpServer::Request>& p_Requests)
{
    QStringList l_Ranges;
    for (const TestHttpServer::Request& l_Request : p_Requests)
        l_Ranges << l_Request.Path.section('/', -1) + " " + QString::fromLatin1(l_Request.Range);
    l_Ranges.sort();
    return l_Ranges;
}

/// The bytes of p_Blob's slot in the installation p_Install ("…/" ending).
inline QByteArray SlotBytes(const QString& p_Install, const QJsonObject& p_Blob)
{
    return ReadFile(p_Install + QString::asprintf("data/data/data.%03d", p_Blob["localArchive"].toInt()))
        .mid(p_Blob["localOffset"].toInt(), p_Blob["slotSize"].toInt());
}

/// Whether p_Blob's slot in p_Install holds what the forged installation p_Forged holds there.
inline bool SlotWhole(const QString& p_Install, const QString& p_Forged, const QJsonObject& p_Blob)
{
    const QByteArray l_Have = SlotBytes(p_Install, p_Blob);
    return l_Have.size() == p_Blob["slotSize"].toInt() && l_Have == SlotBytes(p_Forged, p_Blob);
}

/// The index key (hex) a slot's header names: its 9 bytes stored reversed; empty for a zeroed or short slot.
inline QString SlotKey(const QByteArray& p_Slot)
{
    if (p_Slot.size() < 16 || p_Slot.left(16) == QByteArray(16, '\0'))
        return QString();
    QByteArray l_Key;
    for (int l_I = 15; l_I >= 7; --l_I)
        l_Key.append(p_Slot.at(l_I));
    return QString::fromLatin1(l_Key.toHex());
}
