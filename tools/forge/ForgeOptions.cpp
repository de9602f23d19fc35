#include "tools/forge/ForgeOptions.h"
#include "cli/CommandLine.h"
#include "net/ByteSize.h"

#include "platform/QtCompat.h"

#include <functional>

namespace Orvane {
namespace CASC {
namespace Forge {

namespace {

bool ToInteger(const QString& p_Text, qint64 p_Min, qint64 p_Max, qint64& p_Value)
{
    bool l_Ok = false;
    const qlonglong l_Value = p_Text.toLongLong(&l_Ok, 10);
    if (!l_Ok || l_Value < p_Min || l_Value > p_Max)
        return false;
    p_Value = l_Value;
    return true;
}

/// A relative path of plain folder names, safe to append to a URL and to a folder.
bool IsSafePath(const QString& p_Path)
{
    if (p_Path.isEmpty())
        return false;
    const QStringList l_Parts = p_Path.split('/');
    for (const QString& l_Part : l_Parts)
    {
        if (l_Part.isEmpty() || l_Part == "." || l_Part == "..")
            return false;
        for (QChar l_C : l_Part)
            if (!(l_C.isLetterOrNumber() || l_C == '-' || l_C == '_' || l_C == '.') || l_C.unicode() > 0x7F)
                return false;
    }
    return true;
}

bool IsSafeHost(const QString& p_Host)
{
    for (QChar l_C : p_Host)
        if (!(l_C.isLetterOrNumber() || l_C == '-' || l_C == '.' || l_C == ':' || l_C == '[' || l_C == ']') ||
            l_C.unicode() > 0x7F)
            return false;
    return !p_Host.isEmpty();
}

} // namespace

const char* ForgeOptions::DamageName(SlotDamage p_Damage)
{
    switch (p_Damage)
    {
    case SlotDamage::None: return "none";
    case SlotDamage::MissingArchive: return "missing-archive";
    case SlotDamage::Zeroed: return "zeroed";
    case SlotDamage::Truncated: return "truncated";
    case SlotDamage::OtherBlob: return "other-blob";
    }
    return "none";
}

QString ForgeOptions::Usage()
{
    return QStringLiteral(
        "casc-tool forge OUT [options]\n"
        "  Builds a complete synthetic content store, the same bytes for the same options:\n"
        "    OUT/cdn/       the CDN document root: wow/cdns, wow/versions and, under the CDN\n"
        "                   path, config/, data/ (archives, their .index files, the encoding\n"
        "                   file) and patch/\n"
        "    OUT/install/   an installation: data/config/, data/indices/, data/orvane/ (the\n"
        "                   encoding file), data/data/*.idx and data/data/data.NNN\n"
        "    OUT/forge.json a summary: keys, archives, every blob and its slot, damaged slots\n"
        "  Content (one blob per file):\n"
        "    --from FOLDER          every regular file under FOLDER, in sorted path order\n"
        "                           (symbolic links are skipped; identical files share a blob)\n"
        "    --files N              otherwise N generated files (default 64)\n"
        "    --min-size BYTES       smallest generated file (default 1024; K, M suffixes)\n"
        "    --max-size BYTES       largest generated file (default 64K)\n"
        "    --seed N               seed of the generator (default 1)\n"
        "    --chunk BYTES          content bytes per BLTE chunk, 0 for one chunk (default 16384)\n"
        "    --mode N|Z             plain or zlib chunks (default Z)\n"
        "  Store:\n"
        "    --cdn-path PATH        CDN path of the store (default tpr/wow)\n"
        "    --hosts \"H1 H2\"        CDN hosts, blank-separated (default 127.0.0.1:8081)\n"
        "    --build-id N           build number in the versions table (default 31478)\n"
        "    --data-archives N      CDN data archives, 1 to 64 (default 2)\n"
        "    --patch-archives N     CDN patch archives, 0 to 16 (default 1)\n"
        "    --local-archives N     local data.NNN archives, 1 to 256 (default 2)\n"
        "    --first-archive N      number of the first local archive (default 0)\n"
        "  Damage to the installation (BLOB is a number in the summary's blob list):\n"
        "    --no-local-archives    write no data.NNN at all\n"
        "    --drop-archive N       leave out local archive N (repeatable)\n"
        "    --zero-slot BLOB       zero the slot's header and blob (repeatable)\n"
        "    --truncate-slot BLOB   end the archive inside the slot; the slot is placed\n"
        "                           last in its archive (repeatable, one per archive)\n"
        "    --swap-slot BLOB[:OTHER]  the slot holds the header and blob of OTHER\n"
        "                           (default the next blob) (repeatable)\n"
        "    --missing-config cdn|build|patch|all  leave out a configuration copy (repeatable)\n"
        "    --missing-index N|all  leave out the copy of CDN archive N's .index; data\n"
        "                           archives count from 0, patch archives after them\n"
        "    --missing-encoding     leave out the local copy of the encoding file\n"
        "  Fault of the published store:\n"
        "    --wrong-content BLOB   the encoding file names another content key for the blob:\n"
        "                           served right under its key, it never scans whole (repeatable)\n"
        "  Other:\n"
        "    --force                write into an OUT that holds files (its cdn/, install/\n"
        "                           and forge.json are replaced, nothing else)\n"
        "  Exit status: 0 done, 64 usage error, 66 --from unreadable, 73 OUT cannot be written.\n");
}

ForgeOptions::ParseResult ForgeOptions::Parse(const QStringList& p_Arguments, ForgeOptions& p_Options,
                                              QString& p_Error)
{
    Orvane::Tools::CommandLine l_Line;
    for (const char* l_Name : {"force", "no-local-archives", "missing-encoding"})
        l_Line.AddSwitch({l_Name}, QString());
    for (const char* l_Name : {"from", "files", "min-size", "max-size", "seed", "chunk", "mode", "cdn-path", "hosts",
                               "build-id", "data-archives", "patch-archives", "local-archives", "first-archive",
                               "drop-archive", "zero-slot", "truncate-slot", "swap-slot", "missing-config",
                               "missing-index", "wrong-content"})
        l_Line.AddValue({l_Name}, "VALUE", QString());
    l_Line.AddSwitch({"h", "help"}, QString());
    if (!l_Line.Parse(p_Arguments))
    {
        p_Error = l_Line.Message();
        return ParseResult::UsageError;
    }
    if (l_Line.IsSet("help"))
        return ParseResult::Help;
    p_Options.m_Force = l_Line.IsSet("force");
    p_Options.m_NoLocalArchives = l_Line.IsSet("no-local-archives");
    p_Options.m_MissingEncoding = l_Line.IsSet("missing-encoding");
    const QStringList l_Positional = l_Line.Positional();
    const bool l_SizeGiven = l_Line.IsSet("min-size") || l_Line.IsSet("max-size");

    // Each value in turn, option by option, as the summary lists them.
    QString l_Arg;
    QString l_Value;
    auto l_Each = [&](const char* p_Name, const std::function<bool()>& p_Apply) {
        l_Arg = QStringLiteral("--") + p_Name;
        for (const QString& l_One : l_Line.Values(p_Name))
        {
            l_Value = l_One;
            if (!p_Apply())
                return false;
        }
        return true;
    };
    auto l_Written = [&] { return l_Arg + " '" + l_Value + "'"; };
    auto l_Refuse = [&](const QString& p_Text) {
        p_Error = p_Text;
        return false;
    };
    auto l_Number = [&](qint64 p_Min, qint64 p_Max, qint64& p_Out) {
        if (ToInteger(l_Value, p_Min, p_Max, p_Out))
            return true;
        return l_Refuse(QStringLiteral("%1 must be a number from %2 to %3").arg(l_Written()).arg(p_Min).arg(p_Max));
    };
    auto l_Bytes = [&](qint64 p_Max, qint64& p_Out) {
        p_Out = Orvane::Launcher::ByteSize::Parse(l_Value);
        if (p_Out >= 0 && p_Out <= p_Max)
            return true;
        return l_Refuse(
            QStringLiteral("%1 must be a byte count from 0 to %2 (K, M suffixes allowed)").arg(l_Written()).arg(p_Max));
    };
    auto l_Int = [&](qint64 p_Min, qint64 p_Max, int& p_Out) {
        qint64 l_N = 0;
        return l_Number(p_Min, p_Max, l_N) && (p_Out = int(l_N), true);
    };
    auto l_Slot = [&](SlotDamage p_Damage) {
        qint64 l_Blob = 0;
        QString l_Own = l_Value;
        qint64 l_Other = -1;
        if (p_Damage == SlotDamage::OtherBlob && l_Value.contains(':'))
        {
            l_Own = l_Value.section(':', 0, 0);
            if (!ToInteger(l_Value.section(':', 1), 0, 10000000, l_Other))
                return l_Refuse(l_Written() + " must be BLOB or BLOB:OTHER");
        }
        if (!ToInteger(l_Own, 0, 10000000, l_Blob))
            return l_Refuse(l_Written() + " must be a blob number");
        if (p_Options.m_SlotDamage.count(int(l_Blob)))
            return l_Refuse(QStringLiteral("blob %1 is damaged twice").arg(l_Blob));
        p_Options.m_SlotDamage[int(l_Blob)] = p_Damage;
        if (p_Damage == SlotDamage::OtherBlob)
            p_Options.m_SwapWith[int(l_Blob)] = int(l_Other);
        return true;
    };
    qint64 l_N = 0;
    const bool l_Ok =
        l_Each("from", [&] { return l_Value.isEmpty() ? l_Refuse("--from needs a folder") : (p_Options.m_FromDir = l_Value, true); }) &&
        l_Each("files", [&] { return l_Int(1, 1000000, p_Options.m_Files); }) &&
        l_Each("min-size", [&] { return l_Bytes(256LL * 1024 * 1024, p_Options.m_MinSize); }) &&
        l_Each("max-size", [&] { return l_Bytes(256LL * 1024 * 1024, p_Options.m_MaxSize); }) &&
        // The summary stores the seed as a JSON number, exact up to 2^53.
        l_Each("seed", [&] { return l_Number(0, (1LL << 53) - 1, l_N) && (p_Options.m_Seed = quint64(l_N), true); }) &&
        l_Each("chunk", [&] { return l_Bytes(256LL * 1024 * 1024, p_Options.m_ChunkSize); }) &&
        l_Each("mode", [&] {
            return l_Value != "N" && l_Value != "Z" ? l_Refuse(l_Written() + " must be N or Z")
                                                    : (p_Options.m_Zlib = l_Value == "Z", true);
        }) &&
        l_Each("cdn-path", [&] {
            return !IsSafePath(l_Value) ? l_Refuse(l_Written() + " must be a relative path of plain folder names")
                                        : (p_Options.m_CdnPath = l_Value, true);
        }) &&
        l_Each("hosts", [&] {
            const QStringList l_Hosts = l_Value.split(' ', Compat::SkipEmptyParts);
            for (const QString& l_Host : l_Hosts)
                if (!IsSafeHost(l_Host))
                    return l_Refuse(l_Written() + " holds a host that is not HOST[:PORT]");
            if (l_Hosts.isEmpty())
                return l_Refuse("--hosts needs at least one host");
            p_Options.m_Hosts = l_Hosts;
            return true;
        }) &&
        l_Each("build-id", [&] { return l_Number(0, 0xFFFFFFFFLL, l_N) && (p_Options.m_BuildId = quint32(l_N), true); }) &&
        l_Each("data-archives", [&] { return l_Int(1, 64, p_Options.m_DataArchives); }) &&
        l_Each("patch-archives", [&] { return l_Int(0, 16, p_Options.m_PatchArchives); }) &&
        l_Each("local-archives", [&] { return l_Int(1, 256, p_Options.m_LocalArchives); }) &&
        l_Each("first-archive", [&] { return l_Int(0, 255, p_Options.m_FirstArchive); }) &&
        l_Each("drop-archive", [&] { return l_Number(0, 255, l_N) && (p_Options.m_DroppedArchives.insert(int(l_N)), true); }) &&
        l_Each("zero-slot", [&] { return l_Slot(SlotDamage::Zeroed); }) &&
        l_Each("truncate-slot", [&] { return l_Slot(SlotDamage::Truncated); }) &&
        l_Each("swap-slot", [&] { return l_Slot(SlotDamage::OtherBlob); }) &&
        l_Each("missing-config", [&] {
            if (l_Value == "all")
                p_Options.m_MissingConfigs = {"cdn", "build", "patch"};
            else if (l_Value == "cdn" || l_Value == "build" || l_Value == "patch")
                p_Options.m_MissingConfigs.insert(l_Value);
            else
                return l_Refuse(l_Written() + " must be cdn, build, patch or all");
            return true;
        }) &&
        l_Each("wrong-content", [&] {
            return l_Number(0, 10000000, l_N) && (p_Options.m_WrongContent.insert(int(l_N)), true);
        }) &&
        l_Each("missing-index", [&] {
            if (l_Value == "all")
                p_Options.m_MissingAllIndices = true;
            else if (ToInteger(l_Value, 0, 79, l_N))
                p_Options.m_MissingIndices.insert(int(l_N));
            else
                return l_Refuse(l_Written() + " must be an archive number or all");
            return true;
        });
    if (!l_Ok)
        return ParseResult::UsageError;

    if (l_Positional.size() != 1)
    {
        p_Error = l_Positional.isEmpty() ? QStringLiteral("OUT is missing")
                                         : "one OUT folder expected, got: " + l_Positional.join(' ');
        return ParseResult::UsageError;
    }
    p_Options.m_OutDir = l_Positional.first();
    // The summary records how the store was made, not where it was put: stores forged
    // alike into two folders stay byte for byte the same.
    p_Options.m_Arguments = p_Arguments;
    p_Options.m_Arguments.removeAt(l_Line.PositionalIndex(0));
    if (p_Options.m_MinSize > p_Options.m_MaxSize)
    {
        p_Error = QStringLiteral("--min-size %1 is above --max-size %2").arg(p_Options.m_MinSize).arg(p_Options.m_MaxSize);
        return ParseResult::UsageError;
    }
    if (!p_Options.m_FromDir.isEmpty() && l_SizeGiven)
    {
        p_Error = "--min-size and --max-size apply to generated content, not to --from";
        return ParseResult::UsageError;
    }
    const int l_Last = p_Options.m_FirstArchive + p_Options.m_LocalArchives - 1;
    if (l_Last > 255)
    {
        p_Error = QStringLiteral("local archives %1 to %2 do not fit in 0 to 255").arg(p_Options.m_FirstArchive).arg(l_Last);
        return ParseResult::UsageError;
    }
    for (int l_Number : p_Options.m_DroppedArchives)
        if (l_Number < p_Options.m_FirstArchive || l_Number > l_Last)
        {
            p_Error = QStringLiteral("--drop-archive %1 is not a local archive (%2 to %3)")
                          .arg(l_Number).arg(p_Options.m_FirstArchive).arg(l_Last);
            return ParseResult::UsageError;
        }
    const int l_CdnArchives = p_Options.m_DataArchives + p_Options.m_PatchArchives;
    for (int l_Index : p_Options.m_MissingIndices)
        if (l_Index >= l_CdnArchives)
        {
            p_Error = QStringLiteral("--missing-index %1 is not a CDN archive (0 to %2)").arg(l_Index).arg(l_CdnArchives - 1);
            return ParseResult::UsageError;
        }
    if (p_Options.m_NoLocalArchives && (!p_Options.m_DroppedArchives.empty() || !p_Options.m_SlotDamage.empty()))
    {
        p_Error = "--no-local-archives leaves no archive to drop or slot to damage";
        return ParseResult::UsageError;
    }
    return ParseResult::Ok;
}

} // namespace Forge
} // namespace CASC
} // namespace Orvane
