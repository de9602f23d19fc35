// Figures of the content store's install scan and encoding map, for bench/scan.sh:
//   kestrun-bench-scan encoding N     the map at N entries: bytes per entry, peak RSS of the parse
//   kestrun-bench-scan scan INSTALL   ScanInstall over an installed store (loading not counted)
//   kestrun-bench-scan limit INSTALL  the same bytes read, MD5-hashed twice and inflated on every
//                                     core by plain zlib and MD5 code: the machine's limit
#include "casc/CASCApplication.h"
#include "casc/CASCArchivesManager.h"
#include "casc/CASCEncodingFile.h"
#include "casc/CASCLocalIndex.h"
#include "platform/Md5.h"
#include "tools/ScanCommand.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QtConcurrent>
#include <QtEndian>

#include <cstdio>
#include <map>

#include <zlib.h>

using namespace Orvane::CASC;

namespace {

qint64 StatusKiB(const char* p_Field)
{
    QFile l_File("/proc/self/status");
    l_File.open(QIODevice::ReadOnly);
    for (const QByteArray& l_Line : l_File.readAll().split('\n'))
        if (l_Line.startsWith(p_Field))
            return l_Line.mid(int(qstrlen(p_Field))).trimmed().split(' ').first().toLongLong();
    return -1;
}

void ResetPeak()
{
    QFile l_File("/proc/self/clear_refs");
    if (l_File.open(QIODevice::WriteOnly))
        l_File.write("5");
}

/// A decoded encoding file of p_Entries one-key entries, 107 to a page.
QByteArray EncodingFile(int p_Entries)
{
    const int l_PerPage = 107;
    const int l_Pages = (p_Entries + l_PerPage - 1) / l_PerPage;
    QByteArray l_Out(22 + l_Pages * 32, '\0');
    l_Out[3] = 16;
    l_Out[4] = 16;
    qToBigEndian<quint32>(quint32(l_Pages), reinterpret_cast<uchar*>(l_Out.data() + 9));
    l_Out.reserve(l_Out.size() + l_Pages * 4096);
    for (int l_Page = 0; l_Page < l_Pages; ++l_Page)
    {
        QByteArray l_Bytes;
        for (int l_I = l_Page * l_PerPage; l_I < qMin(p_Entries, (l_Page + 1) * l_PerPage); ++l_I)
        {
            const QByteArray l_Seed = QByteArray::number(l_I);
            l_Bytes.append("\x01\x00\x00\x00\x10\x00", 6);
            l_Bytes.append(Orvane::Md5::Hash(l_Seed + 'c'));
            l_Bytes.append(Orvane::Md5::Hash(l_Seed));
        }
        l_Out.append(l_Bytes.leftJustified(4096, '\0'));
    }
    return l_Out;
}

int Encoding(int p_Entries)
{
    const QByteArray l_File = EncodingFile(p_Entries);
    const qint64 l_Before = StatusKiB("VmRSS:");
    ResetPeak();
    CASCEncodingMap l_Map;
    QElapsedTimer l_Clock;
    l_Clock.start();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    if (!CASCEncodingFile::Parse(l_File, l_Map))
        return fprintf(stderr, "parse failed\n"), 1;
    const qint64 l_Ms = l_Clock.elapsed();
    const qint64 l_Peak = StatusKiB("VmHWM:");
    printf("entries %zu\nmap_bytes_per_entry %.1f\nfile_mib %.1f\nrss_before_kib %lld\npeak_rss_kib %lld\n"
           "peak_growth_bytes_per_entry %.1f\nparse_ms %lld\n",
           l_Map.Size(), double(l_Map.Bytes()) / double(l_Map.Size()), l_File.size() / 1048576.0, l_Before, l_Peak,
           double(l_Peak - l_Before) * 1024.0 / double(l_Map.Size()), l_Ms);
    return 0;
}

int Scan(const QString& p_Install)
{
    CASCApplication l_App(0, p_Install, QStringLiteral("http://127.0.0.1/"));
    QString l_Error;
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    if (ScanCommand::Load(l_App, QString(), l_Error) != 0)
        return fprintf(stderr, "%s\n", qPrintable(l_Error)), 1;
    QElapsedTimer l_Clock;
    l_Clock.start();
    l_App.GetArchivesManager()->ScanInstall();
    printf("scan_ms %lld\nlisted %zu\n", l_Clock.elapsed(), l_App.GetArchivesManager()->GetDownloadList().size());
    return 0;
}

/// One archive's slots: blob read, blob hashed, chunks inflated, content hashed.
qint64 LimitArchive(const QString& p_Path, const std::vector<CASCLocalIndexEntry>& p_Slots)
{
    QFile l_File(p_Path);
    if (!l_File.open(QIODevice::ReadOnly))
        return 0;
    qint64 l_Bytes = 0;
    QByteArray l_Slot, l_Content;
    for (const CASCLocalIndexEntry& l_Entry : p_Slots)
    {
        l_File.seek(l_Entry.Offset);
        l_Slot = l_File.read(l_Entry.Size);
        l_Bytes += l_Slot.size();
        if (l_Slot.size() < 42)
            continue;
        const uchar* l_Blob = reinterpret_cast<const uchar*>(l_Slot.constData()) + 30;
        Orvane::Md5 l_BlobHash, l_ContentHash;
        l_BlobHash.Add(reinterpret_cast<const char*>(l_Blob), l_Slot.size() - 30);
        const quint32 l_Header = qFromBigEndian<quint32>(l_Blob + 4);
        const quint32 l_Chunks = qFromBigEndian<quint32>(l_Blob + 8) & 0xFFFFFF;
        const uchar* l_Data = l_Blob + l_Header;
        for (quint32 l_C = 0; l_C < l_Chunks && l_Data < l_Blob + l_Slot.size() - 30; ++l_C)
        {
            const quint32 l_Encoded = qFromBigEndian<quint32>(l_Blob + 12 + 24 * l_C);
            const quint32 l_Decoded = qFromBigEndian<quint32>(l_Blob + 16 + 24 * l_C);
            l_Content.resize(int(l_Decoded));
            uLongf l_Length = l_Decoded;
            if (l_Data[0] == 'Z')
                uncompress(reinterpret_cast<Bytef*>(l_Content.data()), &l_Length, l_Data + 1, l_Encoded - 1);
            else
                memcpy(l_Content.data(), l_Data + 1, l_Encoded - 1);
            l_ContentHash.Add(l_Content.constData(), int(l_Length));
            l_Data += l_Encoded;
        }
        l_BlobHash.Result();
        l_ContentHash.Result();
    }
    return l_Bytes;
}

int Limit(const QString& p_Install)
{
    std::map<int, std::vector<CASCLocalIndexEntry>> l_Groups;
    for (const QString& l_Path : CASCLocalIndex::List(p_Install + "/"))
    {
        std::vector<CASCLocalIndexEntry> l_Entries;
        QString l_Error;
        CASCLocalIndex::Read(l_Path, l_Entries, l_Error);
        for (const CASCLocalIndexEntry& l_Entry : l_Entries)
            l_Groups[l_Entry.Archive].push_back(l_Entry);
    }
    QElapsedTimer l_Clock;
    l_Clock.start();
    QList<QFuture<qint64>> l_Tasks;
    for (const auto& l_Group : l_Groups)
        l_Tasks.append(QtConcurrent::run(LimitArchive, p_Install + QString::asprintf("/data/data/data.%03d", l_Group.first),
                                         l_Group.second));
    qint64 l_Bytes = 0;
    for (QFuture<qint64>& l_Task : l_Tasks)
        l_Bytes += l_Task.result();
    printf("limit_ms %lld\nbytes %lld\nthreads %d\n", l_Clock.elapsed(), l_Bytes, QThreadPool::globalInstance()->maxThreadCount());
    return 0;
}

} // namespace

int main(int p_Argc, char** p_Argv)
{
    QCoreApplication l_App(p_Argc, p_Argv);
    const QStringList l_Args = l_App.arguments();
    const QString l_Mode = l_Args.value(1);
    if (l_Mode == "encoding")
        return Encoding(l_Args.value(2, "1500000").toInt());
    if (l_Mode == "scan" && l_Args.size() == 3)
        return Scan(l_Args.at(2));
    if (l_Mode == "limit" && l_Args.size() == 3)
        return Limit(l_Args.at(2));
    fprintf(stderr, "usage: kestrun-bench-scan encoding [N] | scan INSTALL | limit INSTALL\n");
    return 2;
}
