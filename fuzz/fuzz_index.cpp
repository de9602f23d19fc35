// Archive indices are fetched from the CDN and kept on disk: any bytes either load or fail
// with a reason, never read outside the file, and whatever loads can be found again.
// The input is split in two archives so that keys repeated across files are exercised too.
#include "casc/CASCApplication.h"
#include "casc/CASCIndexFile.h"
#include "casc/CASCIndexManager.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <memory>

using namespace Orvane::CASC;

namespace {

bool Write(const QString& p_Path, const QByteArray& p_Bytes)
{
    QFile l_File(p_Path);
    return l_File.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) &&
           l_File.write(p_Bytes) == p_Bytes.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p_Data, size_t p_Size)
{
    // In memory where there is a memory file system: two files are written per input.
    static QTemporaryDir s_Dir(QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/fuzz_index-XXXXXX")
                                                         : QDir::tempPath() + "/fuzz_index-XXXXXX");
    static const QString s_Indices = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {}); // one line per load
        QLoggingCategory::setFilterRules(QStringLiteral("default.warning=false"));
        QDir().mkpath(s_Dir.path() + "/data/indices");
        return s_Dir.path() + "/data/indices/";
    }();

    quint32 l_Count = 0;
    quint32 l_Visited = 0;
    const CASCIndexFile::Result l_Result = CASCIndexFile::Parse(
        p_Data, qint64(p_Size),
        [&](const uchar* p_Key, quint32, quint32) {
            if (p_Key < p_Data || p_Key + 24 > p_Data + p_Size - CASCIndexFile::TailSize)
                std::abort();
            ++l_Visited;
        },
        &l_Count);
    if (l_Result == CASCIndexFile::Ok && l_Visited != l_Count)
        std::abort();

    const QByteArray l_Bytes(reinterpret_cast<const char*>(p_Data), int(p_Size));
    const int l_Half = p_Size > 0 ? int(p_Data[0]) * l_Bytes.size() / 256 : 0;
    if (!Write(s_Indices + "a.index", l_Bytes.left(l_Half)) || !Write(s_Indices + "b.index", l_Bytes.mid(l_Half)))
        return 0;
    // One orchestrator for the run; each input gets a fresh index manager.
    static CASCApplication s_App(0, s_Dir.path(), "http://127.0.0.1:1/");
    static const QStringList s_Data{"a"}, s_Patch{"b"};
    CASCIndexManager l_Manager(&s_App);
    CASCIndexManager* l_Index = &l_Manager;
    const bool l_Loaded = l_Index->LoadArchives(s_Data, s_Patch);
    if (l_Index->GetArchiveNames().size() > 2 || l_Index->GetArchiveName(2))
        std::abort();
    // After a load every key of both files is found, in the archive that lists it.
    for (int l_Part = 0; l_Loaded && l_Part < 2; ++l_Part)
    {
        const QByteArray l_File = l_Part == 0 ? l_Bytes.left(l_Half) : l_Bytes.mid(l_Half);
        CASCIndexFile::Parse(reinterpret_cast<const uchar*>(l_File.constData()), l_File.size(),
                             [&](const uchar* p_Key, quint32, quint32 p_Offset) {
                                 const CASCIndexRecord* l_Record =
                                     l_Index->FindEntry(CASCIndexManager::IndexKey(reinterpret_cast<const char*>(p_Key)));
                                 if (!l_Record || l_Record->_ArchiveIndex != l_Part || l_Record->_Offset != p_Offset ||
                                     l_Record->_Patch != quint32(l_Part))
                                     std::abort();
                             });
    }
    return 0;
}
