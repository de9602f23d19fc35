// Game launch, client configuration and running-game detection.
#include "launcher/LauncherLog.h"
#include "launcher/StandartApplication.h"
#include "platform/Platform.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QTextStream>

namespace Orvane {
namespace Launcher {

bool (*StandartApplication::s_Is64BitSystem)() = &Platform::Is64BitSystem;

bool StandartApplication::Start(QString p_Login, QString p_Password)
{
    Q_UNUSED(p_Login);
    Q_UNUSED(p_Password);

    StopDownload();
    ApplyFileAttributes();

    int32_t l_Flag = FlagClient32;
    if (s_Is64BitSystem())
    {
        for (const ManifestFile& l_Entry : m_Remote.Build().BaseFiles)
        {
            if (l_Entry.Flags & FlagClient64)
            {
                l_Flag = FlagClient64;
                break;
            }
        }
    }

    for (const ManifestFile& l_Entry : m_Remote.Build().BaseFiles)
    {
        if (!(l_Entry.Flags & l_Flag))
            continue;
        QString l_Path = m_InstallationPath + l_Entry.Path;
        qCWarning(LauncherLog).noquote().nospace() << "Start " << l_Path;
        // The outcome is examined: a start that failed is told with its reason, never taken for a start.
        const QString l_Refused = StartClient(l_Path, QStringList() << QStringLiteral("-noautolaunch64bit"));
        if (!l_Refused.isEmpty())
        {
            qCWarning(LauncherLog).noquote()
                << "StandartApplication::Start the system refused to start" << l_Path << l_Refused;
            ShowMessageBox(m_Name + " could not be started: " + l_Path + ": " + l_Refused, false);
            return false;
        }
        return true;
    }
    ShowMessageBox(m_Name + " could not be started: the build names no client executable.", false);
    return false;
}

QString StandartApplication::StartClient(const QString& p_Path, const QStringList& p_Arguments)
{
    const QFileInfo l_Info(p_Path);
    if (!l_Info.exists())
        return QStringLiteral("the file is missing");
    if (!l_Info.isFile())
        return QStringLiteral("not a file");
    QProcess l_Process;
    l_Process.setProgram(p_Path);
    l_Process.setArguments(p_Arguments);
    if (l_Process.startDetached())
        return QString();
    // The system's own words where Qt has them; a file that may not be run says so.
    QString l_Reason = l_Process.errorString();
    if (!l_Info.isExecutable())
        l_Reason = QStringLiteral("permission denied (the file may not be run)");
    return l_Reason.isEmpty() || l_Reason == QLatin1String("Unknown error") ? QStringLiteral("the system refused to run it")
                                                                            : l_Reason;
}

void StandartApplication::PatchWoWTextFile(QString p_FilePath, QString p_Key, QString p_Line, bool p_Create)
{
    QFile l_File(p_FilePath);
    if (l_File.exists())
    {
        // A file that cannot be read is left as it is: rewriting it would lose the user's settings.
        if (!l_File.open(QIODevice::ReadOnly))
        {
            qCWarning(LauncherLog).noquote()
                << "StandartApplication::PatchWoWTextFile cannot read" << p_FilePath << ":" << l_File.errorString();
            return;
        }
        QStringList l_Kept;
        QTextStream l_In(&l_File);
        // One character per byte and back: the user's lines come out as they went in, whatever the local
        // 8-bit encoding (UTF-8 here, a Windows code page there) makes of them.
        l_In.setCodec("ISO-8859-1");
        while (!l_In.atEnd())
        {
            QString l_Line = l_In.readLine();
            if (!l_Line.contains(p_Key, Qt::CaseInsensitive))
                l_Kept << l_Line;
        }
        bool l_ReadOk = l_In.status() == QTextStream::Ok && l_File.error() == QFileDevice::NoError;
        l_File.close();
        if (!l_ReadOk)
        {
            qCWarning(LauncherLog).noquote() << "StandartApplication::PatchWoWTextFile read error on" << p_FilePath;
            return;
        }
        if (!QFileInfo(p_FilePath).isWritable())
        {
            qCWarning(LauncherLog).noquote() << "StandartApplication::PatchWoWTextFile read-only file" << p_FilePath;
            return;
        }

        QByteArray l_Text;
        for (const QString& l_Line : l_Kept)
            l_Text += l_Line.toLatin1() + '\n';
        l_Text += p_Line.toUtf8() + '\n';

        // Written aside and renamed over the old file, so a full disk or a kill keeps the old one.
        // The flush comes first: commit() renames a file cut short by a failed final write (Qt 5.15).
        QSaveFile l_Out(p_FilePath);
        if (!l_Out.open(QIODevice::WriteOnly) || l_Out.write(l_Text) != l_Text.size() || !l_Out.flush() ||
            !l_Out.commit())
            qCWarning(LauncherLog).noquote()
                << "StandartApplication::PatchWoWTextFile cannot write" << p_FilePath << ":" << l_Out.errorString();
        return;
    }

    if (!p_Create)
        return;
    QDir().mkpath(QFileInfo(p_FilePath).absolutePath());
    QSaveFile l_Out(p_FilePath);
    QByteArray l_Text = p_Line.toUtf8();
    if (!l_Out.open(QIODevice::WriteOnly) || l_Out.write(l_Text) != l_Text.size() || !l_Out.flush() ||
        !l_Out.commit())
        qCWarning(LauncherLog).noquote() << "StandartApplication::PatchWoWTextFile cannot create" << p_FilePath << ":"
                                         << l_Out.errorString();
}

bool StandartApplication::IsGameRunning()
{
    QString l_Candidate;
    QStringList l_Names{QStringLiteral("wow.exe"), QStringLiteral("wow-64.exe"),
                        QStringLiteral("macos/world of warcraft")};
    bool l_Result = FindGameProcess(m_InstallationPath, l_Names, &l_Candidate);
    qCWarning(LauncherLog).noquote().nospace() << m_Name << " IsGameRunning : " << l_Result;
    qCWarning(LauncherLog).noquote().nospace() << "Candidate is : " << l_Candidate;
    return l_Result;
}

bool StandartApplication::FindGameProcess(QString p_Folder, QStringList p_Names, QString* p_Candidate)
{
    if (p_Folder.trimmed().isEmpty())
        return false;

    QStringList l_Lines;
    for (const std::string& l_Path : Platform::RunningExecutables())
        l_Lines << QString::fromUtf8(l_Path.data(), int(l_Path.size()));
    return MatchGameProcess(l_Lines, p_Folder, p_Names, p_Candidate);
}

bool StandartApplication::MatchGameProcess(const QStringList& p_Lines, const QString& p_Folder,
                                           const QStringList& p_Names, QString* p_Candidate)
{
    if (p_Folder.trimmed().isEmpty())
        return false;
    // A folder typed with Windows separators still matches the normalised lines.
    QString l_Folder = p_Folder;
    l_Folder.replace('\\', '/');

    for (const QString& l_Raw : p_Lines)
    {
        QString l_Line = l_Raw;
        l_Line.remove('"');
        l_Line.replace('\\', '/');
        l_Line = l_Line.toLower().trimmed();
        if (l_Line.size() < 4)
            continue;
        if (!l_Line.contains(l_Folder, Qt::CaseInsensitive)
            || l_Line.contains(QLatin1String("CorvellaLauncher.exe"), Qt::CaseInsensitive)
            || l_Line.contains(QLatin1String("MirrowLauncher.exe"), Qt::CaseInsensitive))
            continue;
        for (const QString& l_Name : p_Names)
        {
            if (l_Line.contains(l_Name, Qt::CaseInsensitive))
            {
                if (p_Candidate)
                    *p_Candidate = l_Line;
                return true;
            }
        }
    }
    return false;
}

} // namespace Launcher
} // namespace Orvane
