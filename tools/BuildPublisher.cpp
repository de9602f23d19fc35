#include "tools/BuildPublisher.h"
#include "tools/ManifestChanges.h"
#include "tools/StreamingCopy.h"

#include "launcher/Manifest.h"
#include "platform/Platform.h"
#include "platform/PlatformPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <cstdio>

namespace Orvane {
namespace Publish {

BuildPublisher::BuildPublisher(const PublishOptions& p_Options)
    : m_Options(p_Options)
{
}

int BuildPublisher::Run(QString& p_Error)
{
    SourceTree l_Tree(m_Options.m_InputDir);
    if (!l_Tree.Scan(p_Error) || !SelectFiles(l_Tree, p_Error))
        return 1;

    if (!QDir().mkpath(m_Options.m_OutputDir))
    {
        p_Error = "cannot create output folder " + m_Options.m_OutputDir;
        return 1;
    }
    // Staged inside the output folder so that the final moves are renames on one volume.
    QTemporaryDir l_Staging(m_Options.m_OutputDir + "/.orvane-publish-XXXXXX");
    if (!l_Staging.isValid())
    {
        p_Error = "cannot create a staging folder in " + m_Options.m_OutputDir + ": " + l_Staging.errorString();
        return 1;
    }
    if (!StageFiles(l_Staging.path(), p_Error) || !WriteDocuments(l_Staging.path(), p_Error) ||
        !CheckPublished(l_Staging.path(), p_Error))
        return 1;
    CollectWarnings();
    return Commit(l_Staging.path(), p_Error) ? 0 : 1;
}

bool BuildPublisher::CheckPath(const QString& p_Path, QString& p_Error) const
{
    // The client is a Windows program: a path it cannot create there, or one it
    // would read differently, must not reach the manifest.
    static const QStringList s_Reserved = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4", "COM5",
                                           "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4",
                                           "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    const QString l_Hint = " (rename it or leave it out with --exclude)";
    if (!Launcher::IsSafeRelativePath(p_Path))
    {
        p_Error = "unsafe file name " + p_Path + l_Hint;
        return false;
    }
    for (QChar l_C : p_Path)
        if (l_C.unicode() < 0x20 || QStringLiteral("\\<>:\"|?*").contains(l_C))
        {
            p_Error = QString("file name %1 holds '%2', which a Windows client cannot use%3")
                          .arg(p_Path, l_C.unicode() < 0x20 ? QString("\\x%1").arg(l_C.unicode(), 2, 16, QChar('0'))
                                                             : QString(l_C),
                               l_Hint);
            return false;
        }
    for (const QString& l_Segment : p_Path.split('/'))
    {
        if (l_Segment.endsWith('.') || l_Segment.endsWith(' '))
        {
            p_Error = "file name " + p_Path + " has a part ending in a dot or a space, which Windows drops" + l_Hint;
            return false;
        }
        if (s_Reserved.contains(l_Segment.section('.', 0, 0).toUpper()))
        {
            p_Error = "file name " + p_Path + " uses a device name reserved on Windows" + l_Hint;
            return false;
        }
    }
    return true;
}

bool BuildPublisher::IsExcluded(const QString& p_Path)
{
    bool l_Excluded = false;
    for (size_t l_I = 0; l_I < m_Options.m_Excluded.size(); ++l_I)
        if (m_Options.m_Excluded[l_I].Matches(p_Path))
        {
            ++m_ExcludedHits[l_I];
            l_Excluded = true;
        }
    return l_Excluded;
}

bool BuildPublisher::SelectFiles(const SourceTree& p_Tree, QString& p_Error)
{
    m_FlagRuleHits.assign(m_Options.m_FlagRules.size(), 0);
    m_LocaleRuleHits.assign(m_Options.m_LocaleRules.size(), 0);
    m_StreamedHits.assign(m_Options.m_Streamed.size(), 0);
    m_ExcludedHits.assign(m_Options.m_Excluded.size(), 0);
    QHash<QString, QString> l_Folded; // lower-case path -> path, for Windows' case-blind file system

    // A link is never followed: one to /etc/passwd would publish the server's own file.
    for (const auto& l_Link : p_Tree.Links())
        if (!IsExcluded(l_Link.first))
        {
            p_Error = l_Link.first + " is a symbolic link (to " + l_Link.second +
                      "), which is not published: leave it out with --exclude '" + l_Link.first +
                      "' or put the file itself in its place";
            return false;
        }

    for (const QString& l_Path : p_Tree.Files())
    {
        if (IsExcluded(l_Path))
            continue;
        if (!CheckPath(l_Path, p_Error))
            return false;

        QStringList l_Parts = l_Path.split('/');
        for (int l_Depth = 1; l_Depth <= l_Parts.size(); ++l_Depth)
        {
            const QString l_Prefix = QStringList(l_Parts.mid(0, l_Depth)).join('/');
            const QString l_Key = l_Prefix.toLower();
            auto l_It = l_Folded.constFind(l_Key);
            if (l_It != l_Folded.constEnd() && l_It.value() != l_Prefix)
            {
                p_Error = l_Path + " and " + l_It.value() + " differ only in letter case (one file on Windows)";
                return false;
            }
            l_Folded.insert(l_Key, l_Prefix);
        }

        Entry l_Entry;
        l_Entry.m_Path = l_Path;
        for (size_t l_I = 0; l_I < m_Options.m_Streamed.size(); ++l_I)
            if (m_Options.m_Streamed[l_I].Matches(l_Path))
            {
                ++m_StreamedHits[l_I];
                l_Entry.m_Streamed = true;
            }
        for (size_t l_I = 0; l_I < m_Options.m_FlagRules.size(); ++l_I)
            if (m_Options.m_FlagRules[l_I].m_Pattern.Matches(l_Path))
            {
                ++m_FlagRuleHits[l_I];
                l_Entry.m_Flags |= m_Options.m_FlagRules[l_I].m_Flags;
            }
        QString l_LocaleOption;
        for (size_t l_I = 0; l_I < m_Options.m_LocaleRules.size(); ++l_I)
        {
            const PublishOptions::LocaleRule& l_Rule = m_Options.m_LocaleRules[l_I];
            if (!l_Rule.m_Pattern.Matches(l_Path))
                continue;
            ++m_LocaleRuleHits[l_I];
            if (!l_Entry.m_Locale.isEmpty() && l_Entry.m_Locale != l_Rule.m_Tag)
            {
                p_Error = l_Path + " matches two languages: " + l_LocaleOption + " and " + l_Rule.m_Option;
                return false;
            }
            l_Entry.m_Locale = l_Rule.m_Tag;
            l_LocaleOption = l_Rule.m_Option;
        }
        m_Entries.push_back(l_Entry);
    }
    return true;
}

void BuildPublisher::CollectWarnings()
{
    for (size_t l_I = 0; l_I < m_FlagRuleHits.size(); ++l_I)
        if (!m_FlagRuleHits[l_I])
            m_Warnings << m_Options.m_FlagRules[l_I].m_Option + " matches no file";
    for (size_t l_I = 0; l_I < m_LocaleRuleHits.size(); ++l_I)
        if (!m_LocaleRuleHits[l_I])
            m_Warnings << m_Options.m_LocaleRules[l_I].m_Option + " matches no file";
    for (size_t l_I = 0; l_I < m_StreamedHits.size(); ++l_I)
        if (!m_StreamedHits[l_I])
            m_Warnings << "--streamed '" + m_Options.m_Streamed[l_I].Text() + "' matches no file";
    for (size_t l_I = 0; l_I < m_ExcludedHits.size(); ++l_I)
        if (!m_ExcludedHits[l_I])
            m_Warnings << "--exclude '" + m_Options.m_Excluded[l_I].Text() + "' matches no file";

    QStringList l_Client32;
    QStringList l_Client64;
    for (const Entry& l_Entry : m_Entries)
    {
        if (l_Entry.m_Flags & Launcher::FlagClient32)
            l_Client32 << l_Entry.m_Path;
        if (l_Entry.m_Flags & Launcher::FlagClient64)
            l_Client64 << l_Entry.m_Path;
        if (l_Entry.m_Streamed && (l_Entry.m_Flags & Launcher::FlagTracked))
            m_Warnings << l_Entry.m_Path + " is streamed: its tracked flag (0x20) has no effect";
        if ((l_Entry.m_Flags & Launcher::FlagReadOnly) && (l_Entry.m_Flags & Launcher::FlagFullPermissions))
            m_Warnings << l_Entry.m_Path + " is both read-only (0x01) and fully writable (0x02)";
    }
    if (l_Client32.size() > 1)
        m_Warnings << "several 32-bit clients (0x08), the first one is started: " + l_Client32.join(", ");
    if (l_Client64.size() > 1)
        m_Warnings << "several 64-bit clients (0x10), the first one is started: " + l_Client64.join(", ");
    if (m_CdnHosts.isEmpty())
        m_Warnings << QString(m_CdnKept ? "no CDN host in cdns.info (kept as it was)" : "no CDN host") +
                          ": clients of every build fetch every file from the application server";
}

bool BuildPublisher::StageFiles(const QString& p_Staging, QString& p_Error)
{
    const QString l_Copy = p_Staging + "/copy.tmp";
    const QString l_AppFolder = p_Staging + "/" + m_Options.m_AppKey + "/";
    for (Entry& l_Entry : m_Entries)
    {
        if (!StreamingCopy::Run(m_Options.m_InputDir + "/" + l_Entry.m_Path, l_Copy, l_Entry.m_Md5, l_Entry.m_Size,
                                p_Error))
            return false;
        m_TotalBytes += l_Entry.m_Size;
        l_Entry.m_Location = "files/" + l_Entry.m_Md5.left(2) + "/" + l_Entry.m_Md5;
        const QString l_Target = l_AppFolder + l_Entry.m_Location;
        if (QFileInfo::exists(l_Target)) // same content twice in the build
        {
            QFile::remove(l_Copy);
            continue;
        }
        if (!MoveInto(l_Copy, l_Target, p_Error))
            return false;
    }
    return true;
}

QJsonObject BuildPublisher::ManifestJson() const
{
    QJsonArray l_Locales;
    for (const auto& l_Locale : m_Options.m_Locales)
        l_Locales.append(QJsonObject{{"tag", l_Locale.first}, {"name", l_Locale.second}});
    QJsonArray l_Base;
    QJsonArray l_Streamed;
    for (const Entry& l_Entry : m_Entries)
    {
        QJsonObject l_File{{"location", l_Entry.m_Location},
                           {"path", l_Entry.m_Path},
                           {"md5", l_Entry.m_Md5},
                           {"flags", int(l_Entry.m_Flags)},
                           {"locale", l_Entry.m_Locale}};
        (l_Entry.m_Streamed ? l_Streamed : l_Base).append(l_File);
    }
    return QJsonObject{{"build_id", m_Options.m_BuildId},
                       {"build_str", m_Options.m_BuildStr},
                       {"build_number", m_Options.m_BuildNumber},
                       {"available_locales", l_Locales},
                       {"content", QJsonObject{{"base_win", l_Base}}},
                       {"streamed_content", l_Streamed}};
}

bool BuildPublisher::WriteDocuments(const QString& p_Staging, QString& p_Error)
{
    const QString l_App = m_Options.m_AppKey + "/";
    const QByteArray l_Version = QJsonDocument(QJsonObject{{"build", m_Options.m_BuildId}}).toJson();
    // Commit order: the manifest and the CDN list before the version documents
    // that make clients go and fetch them.
    m_Documents.clear();
    m_Documents << l_App + "builds/" + m_Options.m_BuildId + "/info.json";
    // Every build of every application shares the CDN list: a run without --cdn keeps it.
    const QString l_CdnList = m_Options.m_OutputDir + "/cdns.info";
    m_CdnKept = m_Options.m_CdnHosts.isEmpty() && !m_Options.m_NoCdn && QFileInfo::exists(l_CdnList);
    if (m_CdnKept)
    {
        QFile l_File(l_CdnList);
        if (!l_File.open(QIODevice::ReadOnly))
        {
            p_Error = "cannot read " + l_CdnList + ": " + l_File.errorString();
            return false;
        }
        m_CdnHosts = QString::fromUtf8(l_File.readAll()).simplified();
    }
    else
    {
        m_CdnHosts = m_Options.m_CdnHosts.join(' ');
        m_Documents << "cdns.info";
    }
    if (m_Options.m_Dev || m_Options.m_DevOnly)
        m_Documents << l_App + "version_dev.json";
    if (!m_Options.m_DevOnly)
        m_Documents << l_App + "version.json";

    for (const QString& l_Document : m_Documents)
    {
        QByteArray l_Data;
        if (l_Document.endsWith("info.json"))
            l_Data = QJsonDocument(ManifestJson()).toJson(QJsonDocument::Indented);
        else if (l_Document == "cdns.info")
            l_Data = m_CdnHosts.toUtf8();
        else
            l_Data = l_Version;
        const QString l_Path = p_Staging + "/" + l_Document;
        if (!QDir().mkpath(QFileInfo(l_Path).absolutePath()) || !WriteFile(l_Path, l_Data, p_Error))
        {
            if (p_Error.isEmpty())
                p_Error = "cannot create " + QFileInfo(l_Path).absolutePath();
            return false;
        }
    }
    return true;
}

bool BuildPublisher::CheckPublished(const QString& p_Staging, QString& p_Error)
{
    const QString l_Manifest = m_Options.m_AppKey + "/builds/" + m_Options.m_BuildId + "/info.json";
    QFile l_Published(m_Options.m_OutputDir + "/" + l_Manifest);
    if (!l_Published.exists())
        return true;
    QFile l_Staged(p_Staging + "/" + l_Manifest);
    if (!l_Published.open(QIODevice::ReadOnly) || !l_Staged.open(QIODevice::ReadOnly))
    {
        QFile& l_Failed = l_Published.isOpen() ? l_Staged : l_Published;
        p_Error = "cannot read " + l_Failed.fileName() + ": " + l_Failed.errorString();
        return false;
    }
    const QJsonDocument l_Old = QJsonDocument::fromJson(l_Published.readAll());
    const QJsonObject l_New = QJsonDocument::fromJson(l_Staged.readAll()).object();
    const QString l_Changes = l_Old.isObject() ? ManifestChanges::Describe(l_Old.object(), l_New)
                                               : QStringLiteral("the published manifest does not parse");
    if (l_Changes.isEmpty())
        return true;
    if (m_Options.m_Replace)
    {
        m_Replaced = l_Changes;
        return true;
    }
    // Clients that are installing it would mix the two; one that installed it would see files change under
    // the same build text.
    p_Error = "build " + m_Options.m_BuildId + " is already published with other content: " + l_Changes +
              ". Publish it under a new --build, or give --replace to change it for every client";
    return false;
}

bool BuildPublisher::Commit(const QString& p_Staging, QString& p_Error)
{
    // Content first: it is new or identical to what is there (files are named by
    // their digest), so moving it never changes what an older build serves.
    const QString l_App = "/" + m_Options.m_AppKey + "/";
    for (const Entry& l_Entry : m_Entries)
    {
        const QString l_Staged = p_Staging + l_App + l_Entry.m_Location;
        if (!QFileInfo::exists(l_Staged))
            continue; // duplicate content, already moved
        const QString l_Final = m_Options.m_OutputDir + l_App + l_Entry.m_Location;
        QFileInfo l_Existing(l_Final);
        if (l_Existing.isFile() && l_Existing.size() == l_Entry.m_Size)
        {
            QFile::remove(l_Staged);
            continue;
        }
        if (!MoveInto(l_Staged, l_Final, p_Error))
            return false;
        ++m_NewFiles;
    }
    for (const QString& l_Document : m_Documents)
        if (!MoveInto(p_Staging + "/" + l_Document, m_Options.m_OutputDir + "/" + l_Document, p_Error))
            return false;
    return true;
}

bool BuildPublisher::WriteFile(const QString& p_Path, const QByteArray& p_Data, QString& p_Error)
{
    QFile l_File(p_Path);
    bool l_Ok = l_File.open(QIODevice::WriteOnly | QIODevice::Truncate) && l_File.write(p_Data) == p_Data.size() &&
                l_File.flush();
    if (l_Ok)
    {
        l_File.close(); // a failed close (full disk) shows in error()
        l_Ok = l_File.error() == QFileDevice::NoError;
    }
    if (!l_Ok)
        p_Error = "cannot write " + p_Path + ": " + l_File.errorString();
    return l_Ok;
}

bool BuildPublisher::MoveInto(const QString& p_From, const QString& p_To, QString& p_Error)
{
    const QString l_Folder = QFileInfo(p_To).absolutePath();
    if (!QDir().mkpath(l_Folder))
    {
        p_Error = "cannot create folder " + l_Folder;
        return false;
    }
    // Replaced in one step: a reader sees the old file or the new one.
    if (Orvane::Launcher::Platform::RenameOver(Orvane::Launcher::PlatformPath(p_From), Orvane::Launcher::PlatformPath(p_To)))
        return true;
    if (QFile::exists(p_To) && QFile::remove(p_To) && QFile::rename(p_From, p_To))
        return true;
    p_Error = "cannot move " + p_From + " to " + p_To;
    return false;
}

QString BuildPublisher::Summary() const
{
    int l_Streamed = 0;
    for (const Entry& l_Entry : m_Entries)
        l_Streamed += l_Entry.m_Streamed ? 1 : 0;
    QString l_Notes;
    if (!m_Replaced.isEmpty())
        l_Notes += "\nReplaced the build published before: " + m_Replaced;
    l_Notes += "\nCDN hosts" + QString(m_CdnKept ? " (cdns.info kept): " : ": ") +
               (m_CdnHosts.isEmpty() ? QStringLiteral("none") : m_CdnHosts);
    return QString("Published %1 build %2: %3 files (%4 base, %5 streamed), %6 bytes, %7 new in %8")
        .arg(m_Options.m_AppKey, m_Options.m_BuildId)
        .arg(m_Entries.size())
        .arg(int(m_Entries.size()) - l_Streamed)
        .arg(l_Streamed)
        .arg(m_TotalBytes)
        .arg(m_NewFiles)
        .arg(m_Options.m_OutputDir) + l_Notes;
}

} // namespace Publish
} // namespace Orvane
