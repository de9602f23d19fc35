// The command lines of the three programs from outside: usage errors keep their exit status and
// name the offending argument; the manual pages and the shell completion list exactly the options
// each program's --help lists, and --version names the version the plugin carries.
#include "KestrunVersion.h"
#include "support/Files.h"
#include "support/ToolRun.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

namespace {

/// Options named in a text: "-o" or "--name", at the start of a word or after "[", "(", ",", "|" or a quote.
QSet<QString> Options(const QString& p_Text)
{
    QSet<QString> l_Options;
    static const QRegularExpression s_Option("(?:^|[\\s\\[(,|\"'])(--?[a-zA-Z][a-zA-Z0-9-]*)");
    for (auto l_It = s_Option.globalMatch(p_Text); l_It.hasNext();)
        l_Options.insert(l_It.next().captured(1));
    return l_Options;
}

/// Options a page defines: the tags of its ".TP" paragraphs that start with a dash.
QSet<QString> PageOptions(const QString& p_Page)
{
    QSet<QString> l_Options;
    const QStringList l_Lines = p_Page.split('\n');
    for (int l_I = 0; l_I + 1 < l_Lines.size(); ++l_I)
    {
        if (l_Lines.at(l_I) != ".TP")
            continue;
        QString l_Tag = l_Lines.at(l_I + 1);
        l_Tag.remove(QRegularExpression("^\\.B[IR]?\\s*")).remove(QRegularExpression("\\\\f[BIRP]")).remove('"');
        l_Tag.replace("\\-", "-");
        for (const QString& l_Word : l_Tag.split(QRegularExpression("[\\s,]+")))
            if (l_Word.startsWith('-') && l_Word.size() > 1)
                l_Options.insert(l_Word);
    }
    return l_Options;
}

QString Run(const QString& p_Tool, const QStringList& p_Arguments, int* p_Code = nullptr, QString* p_Err = nullptr)
{
    QProcess l_Process;
    l_Process.setWorkingDirectory(QDir::tempPath());
    const ToolRun l_Run = ToolRun::Run(l_Process, KESTRUN_BIN_DIR "/" + p_Tool, p_Arguments, 30000);
    if (p_Code)
        *p_Code = l_Run.Code;
    if (p_Err)
        *p_Err = l_Run.ErrText();
    return l_Run.OutText();
}

/// Empty when both sets match, else what each lacks.
QString Difference(const QSet<QString>& p_Help, const QSet<QString>& p_Other, const char* p_OtherName)
{
    QString l_Text;
    auto l_Join = [](const QSet<QString>& p_Set) {
        QStringList l_List;
        for (const QString& l_Item : p_Set)
            l_List.append(l_Item);
        l_List.sort();
        return l_List.join(' ');
    };
    if (!(p_Help - p_Other).isEmpty())
        l_Text += "missing from the " + QString(p_OtherName) + ": " + l_Join(p_Help - p_Other) + "; ";
    if (!(p_Other - p_Help).isEmpty())
        l_Text += "not in --help: " + l_Join(p_Other - p_Help);
    return l_Text;
}

} // namespace

class tst_commandline : public QObject
{
    Q_OBJECT

private slots:
    void usageErrors_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const QString l_Launcher("orvane-launcher"), l_Publish("orvane-publish"), l_Casc("casc-tool");
        QTest::newRow("launcher, unknown") << l_Launcher << QStringList{"--bogus", "status"} << 2 << "unknown option --bogus";
        QTest::newRow("launcher, one dash") << l_Launcher << QStringList{"install", "-y", "x"} << 2
                                            << "unknown option -y for install";
        QTest::newRow("launcher, no value") << l_Launcher << QStringList{"--idle-timeout"} << 2
                                            << "option --idle-timeout needs a value";
        QTest::newRow("launcher, empty value") << l_Launcher << QStringList{"--settings=", "status"} << 2
                                               << "option --settings needs a non-empty value";
        QTest::newRow("launcher, bad number") << l_Launcher << QStringList{"--idle-timeout", "1x", "status"} << 2
                                              << "--idle-timeout needs a whole number of seconds (0: never), not \"1x\"";
        QTest::newRow("launcher, switch with value") << l_Launcher << QStringList{"--json=1", "status"} << 2
                                                     << "option --json takes no value";
        QTest::newRow("launcher, global after the command") << l_Launcher << QStringList{"status", "--server=x"} << 2
                                                            << "global option --server must come before the command";
        QTest::newRow("publish, unknown") << l_Publish << QStringList{"--bild", "x", "a", "b"} << 2
                                          << "unknown option --bild";
        QTest::newRow("publish, no value") << l_Publish << QStringList{"a", "b", "--cdn"} << 2 << "--cdn needs a value";
        QTest::newRow("publish, bad number") << l_Publish << QStringList{"--build", "1", "--build-number", "x", "a", "b"}
                                             << 2 << "--build-number 'x'";
        QTest::newRow("publish, switch with value") << l_Publish << QStringList{"--dev=yes"} << 2 << "--dev takes no value";
        QTest::newRow("casc-tool, unknown") << l_Casc << QStringList{"--bogus"} << 64 << "unknown option --bogus";
        QTest::newRow("casc-tool, no value") << l_Casc << QStringList{"blte", "decode", "f", "--key"} << 64
                                             << "--key needs a value (blte decode)";
        QTest::newRow("casc-tool, one dash") << l_Casc << QStringList{"blte", "key", "f", "-z"} << 64
                                             << "unknown option -z for blte key";
        QTest::newRow("casc-tool, bad number") << l_Casc << QStringList{"forge", "out", "--files", "x"} << 64
                                               << "--files 'x' must be a number";
        QTest::newRow("casc-tool, bad count") << l_Casc << QStringList{"index", "f", "--limit=-1"} << 64
                                              << "--limit needs a count, got -1";
    }

    void usageErrors()
    {
        QFETCH(QString, tool);
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, message);
        QTemporaryDir l_Temp;
        int l_Code = -1;
        QString l_Err;
        const QString l_Out = Run(tool, QStringList{"--settings", l_Temp.path() + "/l.ini"}.mid(tool == "orvane-launcher" ? 0 : 2) +
                                            arguments, &l_Code, &l_Err);
        QVERIFY2(l_Code == code && l_Err.contains(message) && l_Out.isEmpty(), qPrintable(QString::number(l_Code) + " " + l_Err));
    }

    void tool_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("page");
        QTest::newRow("orvane-launcher") << "orvane-launcher" << "host/orvane-launcher.1";
        QTest::newRow("orvane-publish") << "orvane-publish" << "tools/orvane-publish.1";
        QTest::newRow("casc-tool") << "casc-tool" << "tools/casc-tool.1";
    }

    void tool()
    {
        QFETCH(QString, tool);
        QFETCH(QString, page);
        int l_Code = -1;
        const QString l_Help = Run(tool, {"--help"}, &l_Code);
        QCOMPARE(l_Code, 0);
        const QSet<QString> l_HelpOptions = Options(l_Help);
        QVERIFY2(l_HelpOptions.contains("--help") && l_HelpOptions.contains("--version"), qPrintable(l_Help));

        const QString l_Page = QString::fromUtf8(ReadFile(KESTRUN_SOURCE_DIR "/" + page));
        QVERIFY(l_Page.startsWith(".TH " + tool.toUpper() + " 1 "));
        QVERIFY2(l_Page.section('\n', 0, 0).contains("\"Kestrun " KESTRUN_VERSION "\""), "the page names another version");
        for (const char* l_Section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "SEE ALSO"})
            QVERIFY2(l_Page.contains(QString(".SH ") + l_Section + "\n"), l_Section);
        QCOMPARE(Difference(l_HelpOptions, PageOptions(l_Page), "page"), QString());

        // The completion offers every option, and no long option the tool lacks (its short
        // ones are those of bash's own commands).
        QSet<QString> l_Completion = Options(QString::fromUtf8(ReadFile(KESTRUN_SOURCE_DIR "/packaging/bash-completion/" + tool)));
        for (const QString& l_Option : QSet<QString>(l_Completion))
            if (!l_Option.startsWith("--") && !l_HelpOptions.contains(l_Option))
                l_Completion.remove(l_Option);
        QCOMPARE(Difference(l_HelpOptions, l_Completion, "completion"), QString());

        QCOMPARE(Run(tool, {"--version"}, &l_Code), tool + " " KESTRUN_VERSION "\n");
        QCOMPARE(l_Code, 0);
    }
};

QTEST_MAIN(tst_commandline)
#include "tst_commandline.moc"
