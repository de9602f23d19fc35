// The archive-index map at scale, driven by bench/index:
//   kestrun-bench-index write DIR ARCHIVES ENTRIES   random archive indices under DIR/data/indices/
//   kestrun-bench-index load DIR                     loads them and prints time and memory
#include "casc/CASCApplication.h"
#include "casc/CASCIndexManager.h"
#include "platform/Md5.h"
#include "tools/forge/ArchiveIndexWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTextStream>

#include <cstdio>
#include <ctime>

using namespace Orvane::CASC;

namespace {

/// A "Vm..." line of /proc/self/status in KiB.
qint64 StatusKib(const char* p_Field)
{
    QFile l_Status("/proc/self/status");
    if (!l_Status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& l_Line : l_Status.readAll().split('\n'))
        if (l_Line.startsWith(p_Field))
            return l_Line.mid(int(qstrlen(p_Field))).trimmed().split(' ').first().toLongLong();
    return -1;
}

int Write(const QString& p_Dir, int p_Archives, int p_Entries)
{
    QDir().mkpath(p_Dir + "/data/indices");
    QRandomGenerator l_Random(7);
    QStringList l_Names;
    for (int l_A = 0; l_A < p_Archives; ++l_A)
    {
        std::vector<Forge::ArchiveIndexWriter::Entry> l_Entries{size_t(p_Entries), Forge::ArchiveIndexWriter::Entry()};
        quint32 l_Offset = 0;
        for (auto& l_Entry : l_Entries)
        {
            l_Entry.m_EncodingKey.resize(16);
            l_Random.fillRange(reinterpret_cast<quint32*>(l_Entry.m_EncodingKey.data()), 4);
            l_Entry.m_Size = 1000 + l_Random.bounded(100000u);
            l_Entry.m_Offset = l_Offset;
            l_Offset += l_Entry.m_Size;
        }
        const QByteArray l_Index = Forge::ArchiveIndexWriter::Build(l_Entries);
        const QString l_Name = QString::fromLatin1(Orvane::Md5::Hash(l_Index).toHex());
        QFile l_File(p_Dir + "/data/indices/" + l_Name + ".index");
        if (!l_File.open(QIODevice::WriteOnly) || l_File.write(l_Index) != l_Index.size())
            return 1;
        l_Names.append(l_Name);
    }
    QFile l_List(p_Dir + "/archives.txt");
    return l_List.open(QIODevice::WriteOnly) && l_List.write(l_Names.join('\n').toLatin1()) > 0 ? 0 : 1;
}

int Load(const QString& p_Dir)
{
    QFile l_List(p_Dir + "/archives.txt");
    if (!l_List.open(QIODevice::ReadOnly))
        return 1;
    const QStringList l_Names = QString::fromLatin1(l_List.readAll()).split('\n');
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    CASCApplication l_App(0, p_Dir, "http://127.0.0.1:1/");
    QString l_Error;
    QObject::connect(&l_App, &CASCApplication::OnError, [&](Errors::Type, QString p_Message) { l_Error = p_Message; });
    const qint64 l_Before = StatusKib("VmRSS:");
    QElapsedTimer l_Timer;
    const std::clock_t l_Cpu = std::clock();
    l_Timer.start();
    const bool l_Loaded = l_App.GetIndexManager()->LoadArchives(l_Names, {});
    const qint64 l_Ns = l_Timer.nsecsElapsed();
    const double l_CpuSeconds = double(std::clock() - l_Cpu) / CLOCKS_PER_SEC;
    const qint64 l_Entries = l_App.GetIndexManager()->GetEntryCount();
    if (!l_Loaded || l_Entries == 0)
    {
        std::fprintf(stderr, "load failed: %s\n", qPrintable(l_Error));
        return 1;
    }
    // Every key is found again (not timed): the map is complete.
    const qint64 l_Peak = StatusKib("VmHWM:");
    const qint64 l_After = StatusKib("VmRSS:");
    std::printf("entries %lld load_s %.4f record_bytes %d rss_growth_bytes_per_entry %.1f peak_growth_bytes_per_entry %.1f "
                "cpu_s %.4f\n",
                l_Entries, double(l_Ns) / 1e9, int(sizeof(CASCIndexRecord)),
                double(l_After - l_Before) * 1024.0 / double(l_Entries),
                double(l_Peak - l_Before) * 1024.0 / double(l_Entries), l_CpuSeconds);
    return 0;
}

} // namespace

int main(int p_Argc, char** p_Argv)
{
    QCoreApplication l_App(p_Argc, p_Argv);
    const QStringList l_Args = l_App.arguments();
    if (l_Args.value(1) == "write" && l_Args.size() == 5)
        return Write(l_Args[2], l_Args[3].toInt(), l_Args[4].toInt());
    if (l_Args.value(1) == "load" && l_Args.size() == 3)
        return Load(l_Args[2]);
    std::fprintf(stderr, "usage: kestrun-bench-index write DIR ARCHIVES ENTRIES | load DIR\n");
    return 2;
}
