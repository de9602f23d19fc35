#include "tools/ScanCommand.h"

#include "casc/BLTEHandler.h"
#include "casc/CASCApplication.h"
#include "casc/CASCArchivesManager.h"
#include "casc/CASCConfigParser.h"
#include "casc/CASCIndexManager.h"
#include "tools/CascToolExit.h"
#include "cli/CommandLine.h"

#include <QDataStream>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>

namespace Orvane {
namespace CASC {

namespace {

struct ScanArguments
{
    QString Folder;
    QString BuildConfig;
    bool Json = false;
};

/// A tool's verdict: exit status and the line that explains it.
struct Outcome
{
    int Status = 0;
    QString Message;
};

QByteArray ReadAll(const QString& p_Path, bool& p_Ok)
{
    QFile l_File(p_Path);
    p_Ok = l_File.open(QIODevice::ReadOnly);
    return p_Ok ? l_File.readAll() : QByteArray();
}

/// Configuration files of the installation whose text has a line starting with p_Key.
QStringList ConfigsWith(const QString& p_Folder, const QString& p_Key)
{
    QStringList l_Paths;
    QDirIterator l_It(p_Folder + "data/config", QDir::Files, QDirIterator::Subdirectories);
    while (l_It.hasNext())
    {
        const QString l_Path = l_It.next();
        bool l_Ok = false;
        const QString l_Text = CASCConfigParser::Text(ReadAll(l_Path, l_Ok));
        if (l_Ok && (l_Text.startsWith(p_Key) || l_Text.contains('\n' + p_Key)))
            l_Paths.append(l_Path);
    }
    l_Paths.sort();
    return l_Paths;
}

/// The build configuration and the CDN configuration that lists it (or the only one there is).
Outcome ReadConfigs(const ScanArguments& p_Args, const QString& p_Folder, CASCBuildConfig& p_Build,
                    CASCCDNConfig& p_Cdn)
{
    QString l_BuildPath;
    if (!p_Args.BuildConfig.isEmpty())
    {
        const QString& l_Key = p_Args.BuildConfig;
        l_BuildPath = p_Folder + "data/config/" + l_Key.left(2) + "/" + l_Key.mid(2, 2) + "/" + l_Key;
    }
    else
    {
        const QStringList l_Builds = ConfigsWith(p_Folder, "encoding = ");
        if (l_Builds.isEmpty())
            return {CascToolExit::NoInput, "no build configuration (a file with \"encoding = \") under " + p_Folder + "data/config"};
        if (l_Builds.size() > 1)
            return {CascToolExit::Usage, "several build configurations; pick one with --build-config KEY: " +
                                             l_Builds.join(' ')};
        l_BuildPath = l_Builds.first();
    }
    bool l_Ok = false;
    const QByteArray l_Text = ReadAll(l_BuildPath, l_Ok);
    if (!l_Ok)
        return {CascToolExit::NoInput, "cannot read the build configuration " + l_BuildPath};
    CASCConfigParser::ParseBuildConfig(CASCConfigParser::Text(l_Text), p_Build);
    if (p_Build._Encoding.size() < 2 || p_Build._Encoding.last().size() != 32)
        return {CascToolExit::DataError, "no encoding key in " + l_BuildPath};

    const QString l_BuildKey = QFileInfo(l_BuildPath).fileName();
    const QStringList l_Cdns = ConfigsWith(p_Folder, "archives = ");
    QString l_CdnPath = l_Cdns.size() == 1 ? l_Cdns.first() : QString();
    for (const QString& l_Path : l_Cdns)
    {
        CASCCDNConfig l_Config;
        CASCConfigParser::ParseCDNConfig(CASCConfigParser::Text(ReadAll(l_Path, l_Ok)), l_Config);
        if (l_Config._Builds.contains(l_BuildKey))
            l_CdnPath = l_Path;
    }
    if (l_CdnPath.isEmpty())
        return {CascToolExit::NoInput, "no CDN configuration (a file with \"archives = \") for build " + l_BuildKey};
    CASCConfigParser::ParseCDNConfig(CASCConfigParser::Text(ReadAll(l_CdnPath, l_Ok)), p_Cdn);
    return {};
}

/// The local copy of the encoding file, decoded and parsed into the manager's map.
Outcome LoadEncoding(const QString& p_Folder, const QString& p_Key, CASCArchivesManager& p_Manager)
{
    const QString l_Path = p_Folder + "data/orvane/" + p_Key;
    QFile l_File(l_Path);
    if (!l_File.open(QIODevice::ReadOnly))
        return {CascToolExit::NoInput, "cannot read the encoding file " + l_Path};
    QDataStream l_Stream(&l_File);
    QByteArray l_Decoded;
    const QByteArray l_Expected = QByteArray::fromHex(p_Key.toLatin1());
    const qint32 l_Result = BLTEHandler::ExtractData(l_Stream, quint64(l_File.size()), l_Expected.constData(), l_Decoded);
    if (l_Result != BLTEHandler::Ok)
        return {CascToolExit::DataError, QStringLiteral("the encoding file %1 does not decode (%2)").arg(l_Path).arg(l_Result)};
    if (!p_Manager.ParseEncodingFile(&l_Decoded))
        return {CascToolExit::DataError, "the encoding file " + l_Path + " does not parse"};
    return {};
}

} // namespace

QString ScanCommand::Usage()
{
    return QStringLiteral(
        "casc-tool scan FOLDER [--json] [--build-config KEY]\n"
        "  Checks an installed store offline, with the launcher's own install scan: reads the\n"
        "  local .idx files, archives, configurations, archive indices and the local encoding\n"
        "  copy of FOLDER and prints the slots to fetch, one 18-digit index key a line, in the\n"
        "  order ToDownloadCASC.db would hold them, then on standard error how many slots\n"
        "  it checked and how many are to fetch, and why. Changes nothing on disk.\n"
        "    --json                 the slots checked, and key, archive, offset, size and\n"
        "                           why of each slot to fetch, as JSON\n"
        "    --build-config KEY     the build configuration in data/config/ to check, when\n"
        "                           there are several (default: the one with \"encoding = \")\n"
        "  Exit status: 0 whole, 1 slots to fetch, 64 usage error, 65 a file does not parse,\n"
        "  66 the folder, its build configuration or its encoding copy is missing.\n");
}

int ScanCommand::Load(CASCApplication& p_App, const QString& p_BuildConfig, QString& p_Error)
{
    const QString l_Folder = p_App.GetInstallFolder();
    QList<QPair<int, QString>> l_Errors;
    const QMetaObject::Connection l_Connection = QObject::connect(
        &p_App, &CASCApplication::OnError,
        [&l_Errors](Errors::Type p_Type, QString p_Message) { l_Errors.append({int(p_Type), p_Message}); });
    CASCBuildConfig l_Build;
    CASCCDNConfig l_Cdn;
    ScanArguments l_Args;
    l_Args.BuildConfig = p_BuildConfig;
    Outcome l_Outcome = ReadConfigs(l_Args, l_Folder, l_Build, l_Cdn);
    if (l_Outcome.Status == 0 && !p_App.GetIndexManager()->LoadArchives(l_Cdn._Archives, l_Cdn._PatchArchives))
    {
        const QString l_Message = l_Errors.isEmpty() ? QStringLiteral("archive indices not loaded") : l_Errors.first().second;
        l_Outcome = {l_Message.contains("missing index") ? CascToolExit::NoInput : CascToolExit::DataError, l_Message};
    }
    QObject::disconnect(l_Connection);
    CASCArchivesManager& l_Manager = *p_App.GetArchivesManager();
    l_Manager.m_OnBusy = [] {};
    l_Manager.m_OnCheckProgress = [](quint32, quint32) {};
    if (l_Outcome.Status == 0)
        l_Outcome = LoadEncoding(l_Folder, l_Build._Encoding.last(), l_Manager);
    p_Error = l_Outcome.Message;
    return l_Outcome.Status;
}

int ScanCommand::Run(const QStringList& p_Args, QTextStream& p_Out, QTextStream& p_Err)
{
    ScanArguments l_Args;
    Orvane::Tools::CommandLine l_Line;
    l_Line.AddSwitch({"json"}, QString());
    l_Line.AddSwitch({"h", "help"}, QString());
    l_Line.AddValue({"build-config"}, "KEY", QString());
    QString l_Error;
    if (!l_Line.Parse(p_Args))
        // A one-dash word reads as an argument scan does not take.
        l_Error = l_Line.Failure() == Orvane::Tools::CommandLine::Error::UnknownOption && !l_Line.Offending().startsWith("--")
                      ? "unexpected argument " + l_Line.Offending()
                      : l_Line.Message();
    else if (l_Line.IsSet("help"))
        return p_Out << Usage(), 0;
    l_Args.Json = l_Line.IsSet("json");
    if (l_Error.isEmpty() && l_Line.IsSet("build-config"))
    {
        l_Args.BuildConfig = l_Line.Value("build-config").toLower();
        if (l_Args.BuildConfig.size() != 32 || QByteArray::fromHex(l_Args.BuildConfig.toLatin1()).size() != 16)
            l_Error = "--build-config needs a 32-digit key";
    }
    for (const QString& l_Value : l_Line.Positional())
    {
        if (!l_Value.startsWith('-') && l_Args.Folder.isEmpty())
            l_Args.Folder = l_Value;
        else if (l_Error.isEmpty())
            l_Error = "unexpected argument " + l_Value;
    }
    if (!l_Error.isEmpty())
        return p_Err << "casc-tool scan: " << l_Error << "\n" << Usage(), CascToolExit::Usage;
    if (l_Args.Folder.isEmpty())
        return p_Err << "casc-tool scan: FOLDER is needed\n" << Usage(), CascToolExit::Usage;
    if (!QFileInfo(l_Args.Folder).isDir())
        return p_Err << "casc-tool scan: no folder " << l_Args.Folder << "\n", CascToolExit::NoInput;

    // Never started: nothing is fetched and no database is written.
    CASCApplication l_App(0, l_Args.Folder, QStringLiteral("http://127.0.0.1/"));
    const int l_Status = Load(l_App, l_Args.BuildConfig, l_Error);
    if (l_Status != 0)
        return p_Err << "casc-tool scan: " << l_Error << "\n", l_Status;
    CASCArchivesManager& l_Manager = *l_App.GetArchivesManager();
    quint32 l_Checked = 0;
    l_Manager.m_OnCheckProgress = [&l_Checked](quint32, quint32 p_Total) { l_Checked = p_Total; };
    QString l_Failure;
    const QMetaObject::Connection l_Watch = QObject::connect(
        &l_App, &CASCApplication::OnError, [&l_Failure](Errors::Type, QString p_Message) {
            if (l_Failure.isEmpty())
                l_Failure = p_Message;
        });
    const bool l_Scanned = l_Manager.ScanInstall();
    QObject::disconnect(l_Watch);
    // An index that cannot be read leaves slots unchecked: never a whole store.
    if (!l_Scanned)
        return p_Err << "casc-tool scan: " << l_Failure << "\n",
               l_Failure.contains("missing index") ? CascToolExit::NoInput : CascToolExit::DataError;
    const std::vector<CASCArchiveFileEntry>& l_List = l_Manager.GetDownloadList();
    const std::vector<CASCSlotCheck::Verdict>& l_Why = l_Manager.GetScanVerdicts();
    QJsonArray l_Slots;
    std::map<QString, int> l_Reasons;
    for (size_t l_I = 0; l_I < l_List.size(); ++l_I)
    {
        ++l_Reasons[QString::fromLatin1(CASCSlotCheck::Name(l_Why[l_I]))];
        const CASCArchiveFileEntry& l_Entry = l_List[l_I];
        const QString l_Key = QString::fromLatin1(
            QByteArray(reinterpret_cast<const char*>(l_Entry._IndexRecord->_Key.data()), 9).toHex());
        if (!l_Args.Json)
        {
            p_Out << l_Key << "\n";
            continue;
        }
        l_Slots.append(QJsonObject{{"key", l_Key},
                                   {"archive", int(l_Entry._Archive)},
                                   {"offset", double(l_Entry._Offset)},
                                   {"size", double(l_Entry._Size)},
                                   {"why", QString::fromLatin1(CASCSlotCheck::Name(l_Why[l_I]))}});
    }
    if (l_Args.Json)
    {
        p_Out << QJsonDocument(QJsonObject{{"folder", l_App.GetInstallFolder()},
                                           {"checked", double(l_Checked)},
                                           {"toFetch", l_Slots}})
                     .toJson(QJsonDocument::Indented);
        return l_List.empty() ? Whole : SlotsToFetch;
    }
    // The keys alone stay on standard output, for scripts; the verdict goes beside them.
    p_Out.flush();
    p_Err << l_Checked << (l_Checked == 1 ? " slot" : " slots") << " checked: ";
    if (l_List.empty())
        p_Err << "the store is whole\n";
    else
    {
        QStringList l_Counts;
        for (const auto& l_Reason : l_Reasons)
            l_Counts << QString::number(l_Reason.second) + " " + l_Reason.first;
        p_Err << l_List.size() << " to fetch (" << l_Counts.join(", ") << ")\n";
    }
    return l_List.empty() ? Whole : SlotsToFetch;
}

} // namespace CASC
} // namespace Orvane
