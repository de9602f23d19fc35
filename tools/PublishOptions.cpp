#include "tools/PublishOptions.h"

#include <QDir>
#include <QFileInfo>

namespace Orvane {
namespace Publish {

namespace {

/// A single folder name that cannot climb out of its parent or hide a separator.
bool IsSafeSegment(const QString& p_Text)
{
    if (p_Text.isEmpty() || p_Text == "." || p_Text == "..")
        return false;
    for (QChar l_C : p_Text)
        if (l_C == '/' || l_C == '\\' || l_C == ':' || l_C.unicode() < 0x20 || l_C == ' ')
            return false;
    return true;
}

bool SplitAssignment(const QString& p_Value, QString& p_Left, QString& p_Right)
{
    int l_Equal = p_Value.lastIndexOf('=');
    if (l_Equal <= 0)
        return false;
    p_Left = p_Value.left(l_Equal);
    p_Right = p_Value.mid(l_Equal + 1);
    return true;
}

bool ParseFlags(const QString& p_Text, int32_t& p_Flags)
{
    bool l_Ok = false;
    qlonglong l_Value = p_Text.startsWith("0x", Qt::CaseInsensitive) ? p_Text.mid(2).toLongLong(&l_Ok, 16)
                                                                     : p_Text.toLongLong(&l_Ok, 10);
    if (!l_Ok || l_Value < 0 || l_Value > 0x7fffffff)
        return false;
    p_Flags = int32_t(l_Value);
    return true;
}

} // namespace

void PublishOptions::Define(Tools::CommandLine& p_Line)
{
    p_Line.AddValue({"build"}, "ID", "Build identifier (required; a folder name).");
    p_Line.AddValue({"build-str"}, "TEXT", "Build text shown to players (default: ID).");
    p_Line.AddValue({"build-number"}, "N", "Build number, 0 to 65535 (default: 0).");
    p_Line.AddValue({"app"}, "KEY", "Application key (default: wow_bfa).");
    p_Line.AddValue({"locale-offer"}, "TAG=NAME", "A language offered by the build (repeatable).");
    p_Line.AddValue({"streamed"}, "GLOB", "Files fetched after the base files (repeatable).");
    p_Line.AddValue({"flag"}, "GLOB=FLAGS",
                    "Flags of matching files, decimal or 0x hex; flags of several matching patterns are OR'ed "
                    "(repeatable).");
    p_Line.AddValue({"locale"}, "GLOB=TAG",
                    "Language of matching files; TAG must be offered (repeatable; two different tags for one file "
                    "is an error).");
    p_Line.AddValue({"exclude"}, "GLOB", "Leave matching files out (repeatable).");
    p_Line.AddValue({"cdn"}, "HOST[:PORT]",
                    "A CDN host (repeatable). Writes cdns.info, which every build shares; without --cdn it is kept.");
    p_Line.AddSwitch({"no-cdn"}, "Empty cdns.info: clients of every build fetch from the application server.");
    p_Line.AddSwitch({"replace"}, "Replace a build already published under ID with other content.");
    p_Line.AddSwitch({"dev"}, "Also publish to the development channel.");
    p_Line.AddSwitch({"dev-only"}, "Publish to the development channel only.");
    p_Line.AddSwitch({"quiet"}, "Print nothing but errors.");
    p_Line.AddHelpAndVersion();
}

QString PublishOptions::HelpText()
{
    Tools::CommandLine l_Line;
    Define(l_Line);
    return l_Line.HelpText(
               "orvane-publish --build ID [options] INPUT_FOLDER OUTPUT_FOLDER",
               "Publishes the files of INPUT_FOLDER as one build of a game, laid out as the\n"
               "application server and the CDN hosts serve it (OUTPUT_FOLDER is their web root):\n"
               "  OUTPUT/cdns.info                        CDN hosts, separated by spaces\n"
               "  OUTPUT/APP/version.json                 {\"build\": ID}\n"
               "  OUTPUT/APP/version_dev.json             with --dev or --dev-only\n"
               "  OUTPUT/APP/builds/ID/info.json          the build's download manifest\n"
               "  OUTPUT/APP/files/XX/MD5                 each file, named by its MD5 digest\n"
               "Files are stored by content, so builds published into the same folder share\n"
               "identical files and older builds stay intact. The version document is written\n"
               "last: clients never see a build whose files are not all in place. A build ID\n"
               "already published with other content is refused unless --replace is given.\n"
               "Symbolic links in INPUT_FOLDER are refused (leave them out with --exclude).") +
           QStringLiteral(
               "\n"
               "GLOB is matched against the whole path relative to INPUT_FOLDER, with '/'\n"
               "separators: '*' matches any characters including '/', '?' one character,\n"
               "'[a-z]' a class. Example: --streamed 'Data/*' --flag 'Wow.exe=0x08'\n"
               "                          --locale 'Data/frFR/*=frFR'\n"
               "\n"
               "Flags: 0x01 read-only, 0x02 full permissions, 0x08 32-bit client, 0x10 64-bit\n"
               "client, 0x20 tracked, 0x40 from the application server, 0x80 presence suffices.\n"
               "\n"
               "Exit status: 0 published, 1 failure (nothing published), 2 usage error.\n");
}

PublishOptions::ParseResult PublishOptions::Parse(const QStringList& p_Arguments, PublishOptions& p_Options,
                                                  QString& p_Error)
{
    Tools::CommandLine l_Line;
    Define(l_Line);
    if (!l_Line.Parse(p_Arguments.mid(1)))
    {
        p_Error = l_Line.Message();
        return ParseResult::UsageError;
    }
    if (l_Line.IsSet("help"))
        return ParseResult::Help;
    if (l_Line.IsSet("version"))
        return ParseResult::Version;
    p_Options.m_Dev = l_Line.IsSet("dev");
    p_Options.m_DevOnly = l_Line.IsSet("dev-only");
    p_Options.m_Quiet = l_Line.IsSet("quiet");
    p_Options.m_NoCdn = l_Line.IsSet("no-cdn");
    p_Options.m_Replace = l_Line.IsSet("replace");
    auto l_Fail = [&p_Error](const QString& p_Text) {
        p_Error = p_Text;
        return ParseResult::UsageError;
    };
    auto l_Written = [](const QString& p_Name, const QString& p_Value) { return "--" + p_Name + " '" + p_Value + "'"; };

    for (const QString& l_Value : l_Line.Values("build"))
    {
        if (!IsSafeSegment(l_Value))
            return l_Fail("the build id must be a plain folder name: " + l_Written("build", l_Value));
        p_Options.m_BuildId = l_Value;
    }
    for (const QString& l_Value : l_Line.Values("build-str"))
        p_Options.m_BuildStr = l_Value;
    for (const QString& l_Value : l_Line.Values("build-number"))
    {
        bool l_Ok = false;
        int l_Number = l_Value.toInt(&l_Ok);
        if (!l_Ok || l_Number < 0 || l_Number > 65535)
            return l_Fail("the build number must be between 0 and 65535: " + l_Written("build-number", l_Value));
        p_Options.m_BuildNumber = l_Number;
    }
    for (const QString& l_Value : l_Line.Values("app"))
    {
        if (!IsSafeSegment(l_Value))
            return l_Fail("the application key must be a plain folder name: " + l_Written("app", l_Value));
        p_Options.m_AppKey = l_Value;
    }
    for (const QString& l_Value : l_Line.Values("locale-offer"))
    {
        int l_Equal = l_Value.indexOf('=');
        if (l_Equal <= 0 || l_Value.mid(l_Equal + 1).isEmpty())
            return l_Fail("expected TAG=NAME: " + l_Written("locale-offer", l_Value));
        QString l_Tag = l_Value.left(l_Equal);
        if (p_Options.m_Locales.count(l_Tag))
            return l_Fail("locale offered twice: " + l_Written("locale-offer", l_Value));
        p_Options.m_Locales[l_Tag] = l_Value.mid(l_Equal + 1);
    }
    for (const QString& l_Name : {QStringLiteral("streamed"), QStringLiteral("exclude")})
        for (const QString& l_Value : l_Line.Values(l_Name))
        {
            GlobPattern l_Pattern(l_Value);
            if (l_Value.isEmpty() || !l_Pattern.IsValid())
                return l_Fail("invalid pattern: " + l_Written(l_Name, l_Value));
            (l_Name == "streamed" ? p_Options.m_Streamed : p_Options.m_Excluded).push_back(l_Pattern);
        }
    QString l_Left;
    QString l_Right;
    for (const QString& l_Value : l_Line.Values("flag"))
    {
        FlagRule l_Rule;
        l_Rule.m_Option = l_Written("flag", l_Value);
        if (!SplitAssignment(l_Value, l_Left, l_Right) || !ParseFlags(l_Right, l_Rule.m_Flags))
            return l_Fail("expected GLOB=FLAGS (decimal or 0x hex): " + l_Rule.m_Option);
        l_Rule.m_Pattern = GlobPattern(l_Left);
        if (!l_Rule.m_Pattern.IsValid())
            return l_Fail("invalid pattern: " + l_Rule.m_Option);
        p_Options.m_FlagRules.push_back(l_Rule);
    }
    for (const QString& l_Value : l_Line.Values("locale"))
    {
        LocaleRule l_Rule;
        l_Rule.m_Option = l_Written("locale", l_Value);
        if (!SplitAssignment(l_Value, l_Left, l_Right) || l_Right.isEmpty())
            return l_Fail("expected GLOB=TAG: " + l_Rule.m_Option);
        l_Rule.m_Pattern = GlobPattern(l_Left);
        l_Rule.m_Tag = l_Right;
        if (!l_Rule.m_Pattern.IsValid())
            return l_Fail("invalid pattern: " + l_Rule.m_Option);
        p_Options.m_LocaleRules.push_back(l_Rule);
    }
    for (const QString& l_Value : l_Line.Values("cdn"))
    {
        bool l_Bad = l_Value.isEmpty();
        for (QChar l_C : l_Value)
            if (l_C.isSpace() || l_C == '/' || l_C == '\\' || l_C.unicode() < 0x20)
                l_Bad = true;
        if (l_Bad)
            return l_Fail("a CDN host is HOST or HOST:PORT, without spaces or '/': " + l_Written("cdn", l_Value));
        p_Options.m_CdnHosts.append(l_Value);
    }

    if (p_Options.m_NoCdn && !p_Options.m_CdnHosts.isEmpty())
        return l_Fail("--no-cdn and --cdn contradict each other");

    const QStringList l_Positional = l_Line.Positional();
    if (l_Positional.size() != 2)
    {
        p_Error = "expected INPUT_FOLDER and OUTPUT_FOLDER";
        return ParseResult::UsageError;
    }
    if (p_Options.m_BuildId.isEmpty())
    {
        p_Error = "--build is required";
        return ParseResult::UsageError;
    }
    if (p_Options.m_BuildStr.isEmpty())
        p_Options.m_BuildStr = p_Options.m_BuildId;
    // A file tagged with a language the build does not offer would be dropped by
    // every client without a word.
    for (const LocaleRule& l_Rule : p_Options.m_LocaleRules)
        if (!p_Options.m_Locales.count(l_Rule.m_Tag))
        {
            p_Error = "locale '" + l_Rule.m_Tag + "' is not offered (add --locale-offer " + l_Rule.m_Tag +
                      "=NAME): " + l_Rule.m_Option;
            return ParseResult::UsageError;
        }

    p_Options.m_InputDir = QDir::cleanPath(QFileInfo(l_Positional.at(0)).absoluteFilePath());
    p_Options.m_OutputDir = QDir::cleanPath(QFileInfo(l_Positional.at(1)).absoluteFilePath());
    if (!QFileInfo(p_Options.m_InputDir).isDir())
    {
        p_Error = "input folder not found: " + l_Positional.at(0);
        return ParseResult::UsageError;
    }
    QString l_InputReal = QFileInfo(p_Options.m_InputDir).canonicalFilePath();
    QString l_OutputProbe = p_Options.m_OutputDir;
    // Compare real paths: the output folder may not exist yet, so resolve its nearest existing parent.
    QString l_Suffix;
    while (!QFileInfo::exists(l_OutputProbe) && l_OutputProbe != QDir::rootPath())
    {
        l_Suffix = "/" + QFileInfo(l_OutputProbe).fileName() + l_Suffix;
        l_OutputProbe = QFileInfo(l_OutputProbe).absolutePath();
    }
    QString l_OutputReal = QDir::cleanPath(QFileInfo(l_OutputProbe).canonicalFilePath() + l_Suffix);
    if (l_OutputReal == l_InputReal || l_OutputReal.startsWith(l_InputReal + "/") ||
        l_InputReal.startsWith(l_OutputReal + "/"))
    {
        p_Error = "the input and output folders must not contain one another";
        return ParseResult::UsageError;
    }
    return ParseResult::Ok;
}

} // namespace Publish
} // namespace Orvane
