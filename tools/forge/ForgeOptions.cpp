#include "tools/forge/ForgeOptions.h"
#include "tools/OptionScanner.h"
#include "tools/SizeArgument.h"

#include "launcher/QtCompat.h"

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
        "  Other:\n"
        "    --force                write into an OUT that holds files (its cdn/, install/\n"
        "                           and forge.json are replaced, nothing else)\n"
        "  Exit status: 0 done, 64 usage error, 66 --from unreadable, 73 OUT cannot be written.\n");
}

ForgeOptions::ParseResult ForgeOptions::Parse(const QStringList& p_Arguments, ForgeOptions& p_Options,
                                              QString& p_Error)
{
    p_Options.m_Arguments = p_Arguments;
    static const QStringList s_Switches = {"--help", "--force", "--no-local-archives", "--missing-encoding"};
    static const QStringList s_Valued = {
        "--from", "--files", "--min-size", "--max-size", "--seed", "--chunk", "--mode", "--cdn-path",
        "--hosts", "--build-id", "--data-archives", "--patch-archives", "--local-archives",
        "--first-archive", "--drop-archive", "--zero-slot", "--truncate-slot", "--swap-slot",
        "--missing-config", "--missing-index"};
    QStringList l_Positional;
    int l_OutAt = -1;
    bool l_SizeGiven = false;
    Orvane::Publish::OptionScanner l_Scanner(p_Arguments, 0, s_Switches, s_Valued);
    for (auto l_Item = l_Scanner.Next(); l_Item.m_Kind != Orvane::Publish::OptionScanner::Kind::End;
         l_Item = l_Scanner.Next())
    {
        using Kind = Orvane::Publish::OptionScanner::Kind;
        const QString& l_Arg = l_Item.m_Name;
        const QString& l_Value = l_Item.m_Value;
        if (l_Item.m_Kind == Kind::Error)
        {
            p_Error = l_Value;
            return ParseResult::UsageError;
        }
        if (l_Item.m_Kind == Kind::Positional)
        {
            l_OutAt = l_Item.m_Index;
            l_Positional.append(l_Value);
            continue;
        }
        if (l_Item.m_Kind == Kind::Switch)
        {
            if (l_Arg == "--help")
                return ParseResult::Help;
            if (l_Arg == "--force")
                p_Options.m_Force = true;
            else if (l_Arg == "--no-local-archives")
                p_Options.m_NoLocalArchives = true;
            else
                p_Options.m_MissingEncoding = true;
            continue;
        }

        const QString l_Written = l_Arg + " '" + l_Value + "'";
        auto l_Number = [&](qint64 p_Min, qint64 p_Max, qint64& p_Out) {
            if (ToInteger(l_Value, p_Min, p_Max, p_Out))
                return true;
            p_Error = QStringLiteral("%1 must be a number from %2 to %3").arg(l_Written).arg(p_Min).arg(p_Max);
            return false;
        };
        auto l_Bytes = [&](qint64 p_Max, qint64& p_Out) {
            if (Orvane::Publish::SizeArgument::Parse(l_Value, p_Out) && p_Out <= p_Max)
                return true;
            p_Error = QStringLiteral("%1 must be a byte count from 0 to %2 (K, M suffixes allowed)").arg(l_Written).arg(p_Max);
            return false;
        };
        auto l_Slot = [&](SlotDamage p_Damage) {
            qint64 l_Blob = 0;
            QString l_Own = l_Value;
            qint64 l_Other = -1;
            if (p_Damage == SlotDamage::OtherBlob && l_Value.contains(':'))
            {
                l_Own = l_Value.section(':', 0, 0);
                if (!ToInteger(l_Value.section(':', 1), 0, 10000000, l_Other))
                {
                    p_Error = l_Written + " must be BLOB or BLOB:OTHER";
                    return false;
                }
            }
            if (!ToInteger(l_Own, 0, 10000000, l_Blob))
            {
                p_Error = l_Written + " must be a blob number";
                return false;
            }
            if (p_Options.m_SlotDamage.count(int(l_Blob)))
            {
                p_Error = QStringLiteral("blob %1 is damaged twice").arg(l_Blob);
                return false;
            }
            p_Options.m_SlotDamage[int(l_Blob)] = p_Damage;
            if (p_Damage == SlotDamage::OtherBlob)
                p_Options.m_SwapWith[int(l_Blob)] = int(l_Other);
            return true;
        };

        qint64 l_N = 0;
        if (l_Arg == "--from")
        {
            if (l_Value.isEmpty())
            {
                p_Error = "--from needs a folder";
                return ParseResult::UsageError;
            }
            p_Options.m_FromDir = l_Value;
        }
        else if (l_Arg == "--files")
        {
            if (!l_Number(1, 1000000, l_N))
                return ParseResult::UsageError;
            p_Options.m_Files = int(l_N);
        }
        else if (l_Arg == "--min-size" || l_Arg == "--max-size")
        {
            if (!l_Bytes(256LL * 1024 * 1024, l_N))
                return ParseResult::UsageError;
            (l_Arg == "--min-size" ? p_Options.m_MinSize : p_Options.m_MaxSize) = l_N;
            l_SizeGiven = true;
        }
        else if (l_Arg == "--seed")
        {
            // The summary stores the seed as a JSON number, exact up to 2^53.
            if (!l_Number(0, (1LL << 53) - 1, l_N))
                return ParseResult::UsageError;
            p_Options.m_Seed = quint64(l_N);
        }
        else if (l_Arg == "--chunk")
        {
            if (!l_Bytes(256LL * 1024 * 1024, l_N))
                return ParseResult::UsageError;
            p_Options.m_ChunkSize = l_N;
        }
        else if (l_Arg == "--mode")
        {
            if (l_Value != "N" && l_Value != "Z")
            {
                p_Error = l_Written + " must be N or Z";
                return ParseResult::UsageError;
            }
            p_Options.m_Zlib = l_Value == "Z";
        }
        else if (l_Arg == "--cdn-path")
        {
            if (!IsSafePath(l_Value))
            {
                p_Error = l_Written + " must be a relative path of plain folder names";
                return ParseResult::UsageError;
            }
            p_Options.m_CdnPath = l_Value;
        }
        else if (l_Arg == "--hosts")
        {
            const QStringList l_Hosts = l_Value.split(' ', Compat::SkipEmptyParts);
            for (const QString& l_Host : l_Hosts)
                if (!IsSafeHost(l_Host))
                {
                    p_Error = l_Written + " holds a host that is not HOST[:PORT]";
                    return ParseResult::UsageError;
                }
            if (l_Hosts.isEmpty())
            {
                p_Error = "--hosts needs at least one host";
                return ParseResult::UsageError;
            }
            p_Options.m_Hosts = l_Hosts;
        }
        else if (l_Arg == "--build-id")
        {
            if (!l_Number(0, 0xFFFFFFFFLL, l_N))
                return ParseResult::UsageError;
            p_Options.m_BuildId = quint32(l_N);
        }
        else if (l_Arg == "--data-archives")
        {
            if (!l_Number(1, 64, l_N))
                return ParseResult::UsageError;
            p_Options.m_DataArchives = int(l_N);
        }
        else if (l_Arg == "--patch-archives")
        {
            if (!l_Number(0, 16, l_N))
                return ParseResult::UsageError;
            p_Options.m_PatchArchives = int(l_N);
        }
        else if (l_Arg == "--local-archives")
        {
            if (!l_Number(1, 256, l_N))
                return ParseResult::UsageError;
            p_Options.m_LocalArchives = int(l_N);
        }
        else if (l_Arg == "--first-archive")
        {
            if (!l_Number(0, 255, l_N))
                return ParseResult::UsageError;
            p_Options.m_FirstArchive = int(l_N);
        }
        else if (l_Arg == "--drop-archive")
        {
            if (!l_Number(0, 255, l_N))
                return ParseResult::UsageError;
            p_Options.m_DroppedArchives.insert(int(l_N));
        }
        else if (l_Arg == "--zero-slot" || l_Arg == "--truncate-slot" || l_Arg == "--swap-slot")
        {
            const SlotDamage l_Damage = l_Arg == "--zero-slot"       ? SlotDamage::Zeroed
                                        : l_Arg == "--truncate-slot" ? SlotDamage::Truncated
                                                                     : SlotDamage::OtherBlob;
            if (!l_Slot(l_Damage))
                return ParseResult::UsageError;
        }
        else if (l_Arg == "--missing-config")
        {
            if (l_Value == "all")
                p_Options.m_MissingConfigs = {"cdn", "build", "patch"};
            else if (l_Value == "cdn" || l_Value == "build" || l_Value == "patch")
                p_Options.m_MissingConfigs.insert(l_Value);
            else
            {
                p_Error = l_Written + " must be cdn, build, patch or all";
                return ParseResult::UsageError;
            }
        }
        else if (l_Arg == "--missing-index")
        {
            if (l_Value == "all")
                p_Options.m_MissingAllIndices = true;
            else if (l_Number(0, 79, l_N))
                p_Options.m_MissingIndices.insert(int(l_N));
            else
            {
                p_Error = l_Written + " must be an archive number or all";
                return ParseResult::UsageError;
            }
        }
    }

    if (l_Positional.size() != 1)
    {
        p_Error = l_Positional.isEmpty() ? QStringLiteral("OUT is missing")
                                         : "one OUT folder expected, got: " + l_Positional.join(' ');
        return ParseResult::UsageError;
    }
    p_Options.m_OutDir = l_Positional.first();
    // The summary records how the store was made, not where it was put: stores forged
    // alike into two folders stay byte for byte the same.
    p_Options.m_Arguments.removeAt(l_OutAt);
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
