// The end of one file's transfer: check, place, continue, restart or give up.
#include "launcher/FileFinisher.h"
#include "launcher/CdnHosts.h"
#include "launcher/DeferredDeletes.h"
#include "launcher/LauncherLog.h"
#include "launcher/ManifestPass.h"
#include "launcher/PartFile.h"
#include "launcher/StatusRecord.h"
#include "net/HTTP_DownloadFileRequest.h"
#include "platform/ThreadOwner.h"

#include <QDebug>
#include <QTimer>
#include <QUrl>

namespace Orvane {
namespace Launcher {

namespace {
const unsigned MaxRestarts = 5;
const char* const EmptyMd5 = "D41D8CD98F00B204E9800998ECF8427E";
} // namespace

FileFinisher::Transfer FileFinisher::Transfer::Of(const HTTP_DownloadFileRequest& p_Request)
{
    Transfer l_Done;
    l_Done.Url = p_Request.Url;
    l_Done.FullSize = p_Request.FullSize;
    l_Done.ContentLength = p_Request.ContentLength;
    l_Done.WrittenBytes = p_Request.WrittenBytes;
    l_Done.WrittenMd5 = p_Request.WrittenMd5;
    l_Done.WrittenMd5Bytes = p_Request.WrittenMd5Bytes;
    l_Done.LastSample = qMax<qint64>(0, p_Request.FileSize - p_Request.SpeedSampleBytes);
    l_Done.EndedWhole = p_Request.EndedWhole;
    l_Done.Reason = p_Request.Reason;
    return l_Done;
}

FileFinisher::FileFinisher(Application& p_App, CdnHosts& p_Cdn, const ManifestPass& p_Passes, Queue& p_Queue)
    : m_App(p_App), m_Cdn(p_Cdn), m_Passes(p_Passes), m_Queue(p_Queue), m_Digest(p_App)
{
}

void FileFinisher::Restart(const ManifestFile& p_Entry, qint64 p_Discarded, const char* p_Line, bool p_Count)
{
    KESTRUN_OWNED_BY(m_App.thread());
    qCWarning(LauncherLog).noquote() << QString::fromLatin1(p_Line) + p_Entry.Location;
    const ManifestFile l_Copy = p_Entry;
    m_Queue.Requeue(l_Copy);
    // Thrown-away bytes count as done and as still to fetch: the percentage falls back by them.
    m_Queue.AddCompleted(p_Discarded);
    m_App.m_Status.Total += p_Discarded;
    if (p_Count)
        ++m_Restarts[l_Copy.Path];
    StatusRecord::Changed(m_App);
}

void FileFinisher::RestartOrGiveUp(const ManifestFile& p_Entry, qint64 p_Discarded, const char* p_Line)
{
    if (m_Restarts.value(p_Entry.Path) < MaxRestarts)
        Restart(p_Entry, p_Discarded, p_Line);
    else
        GiveUp(p_Entry, "(ToManyRetry) Download aborded for ");
}

void FileFinisher::GiveUp(const ManifestFile& p_Entry, const char* p_Line)
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (p_Line)
        qCWarning(LauncherLog).noquote() << QString::fromLatin1(p_Line) + p_Entry.Location;
    // Kept in its list file, so that the next run fetches it again.
    m_Queue.UpdateListLine(p_Entry.Path);
    m_Restarts.remove(p_Entry.Path);
    const QString l_Path = m_App.m_InstallationPath + p_Entry.Path;
    if (m_GivenUp.contains(p_Entry.Path))
        return;
    m_GivenUp.append(p_Entry.Path);
    m_App.ShowMessageBox("File " + l_Path + " error : the download could not be verified after " +
                             QString::number(MaxRestarts) + " attempts; it will be fetched again at the next update.",
                         false);
}

void FileFinisher::Finish(const ManifestFile& p_Entry, const Transfer& p_Done)
{
    KESTRUN_OWNED_BY(m_App.thread());
    const PartFile l_File(m_App.m_InstallationPath, p_Entry);
    // An empty file produces no write, so its ".part" may never have been created.
    if (p_Entry.Md5 == QLatin1String(EmptyMd5) && p_Done.ContentLength == 0 && l_File.Size() < 0)
        l_File.CreateEmpty();
    // A server going away (restarted, briefly down) costs nothing when it is back within half a minute.
    const bool l_ConnectionLost = p_Done.Reason == QLatin1String("connection refused") ||
                                  p_Done.Reason == QLatin1String("the server closed the connection") ||
                                  p_Done.Reason.startsWith(QLatin1String("timed out"));
    if (p_Done.WrittenBytes == 0 && l_ConnectionLost && !m_Cdn.OtherHostFor(p_Entry, p_Done.Url))
        return PauseBeforeRetry(p_Entry, p_Done);
    const qint64 l_Have = l_File.Size();
    const qint64 l_Expected = p_Done.FullSize > 0 ? p_Done.FullSize : m_Queue.KnownSize(p_Entry.Path);
    // A file of unknown length is judged by its content only when its transfer ended whole.
    if (l_Have >= 0 && (l_Have < l_Expected || (l_Expected <= 0 && !p_Done.EndedWhole)))
    {
        if (p_Done.WrittenBytes == 0)
            m_Cdn.MarkFailed(p_Done.Url, p_Done.Reason);
        // Cut short (stall, error answer, closed connection): the next transfer goes on from here. Only
        // a transfer that brought nothing uses up one of the file's restarts.
        if (l_Have > m_PartAtStart)
            Restart(p_Entry, 0, "(PARTIAL) Download restarted for ", false);
        else
            RestartOrGiveUp(p_Entry, 0, "(PARTIAL) Download restarted for ");
        return m_Queue.Next(p_Done.LastSample);
    }
    // Hashed by the downloader as it wrote the file, unless the file changed since (its size).
    if (!p_Done.WrittenMd5.isEmpty() && l_Have == p_Done.WrittenMd5Bytes)
    {
        if (Place(p_Entry, p_Done, l_Have, p_Done.WrittenMd5, true))
            m_Queue.Next(p_Done.LastSample);
        return;
    }
    if (l_Have < 0)
    {
        if (Place(p_Entry, p_Done, l_Have, QString(), false))
            m_Queue.Next(p_Done.LastSample);
        return;
    }
    // A whole file read back from disk can take minutes (a ".part" answered 416): never on this thread.
    m_Digest.Start(l_File.Part(), [this, p_Entry, p_Done, l_Have](const QString& p_Md5, FileHasher::Result p_Result) {
        // The launcher closes: the ".part" and its list line stay for the next run.
        if (p_Result == FileHasher::Interrupted)
            return;
        if (Place(p_Entry, p_Done, l_Have, p_Md5, p_Result == FileHasher::Done))
            m_Queue.Next(p_Done.LastSample);
    });
}

void FileFinisher::PauseBeforeRetry(const ManifestFile& p_Entry, const Transfer& p_Done)
{
    KESTRUN_OWNED_BY(m_App.thread());
    const QUrl l_Url(p_Done.Url);
    const QString l_Host = l_Url.port() > 0 ? l_Url.host() + ":" + QString::number(l_Url.port()) : l_Url.host();
    const unsigned l_Restarts = m_Restarts.value(p_Entry.Path);
    // What is on disk is what was done: the file keeps its place and its ".part".
    m_App.m_Status.Done =
        m_Queue.Completed() + qMax<qint64>(0, PartFile(m_App.m_InstallationPath, p_Entry).Size());
    StatusRecord::SetPercent(m_App, m_App.m_Status.Done, m_App.m_Status.Total);
    StatusRecord::Changed(m_App);
    if (l_Restarts >= MaxRestarts)
    {
        m_Restarts.remove(p_Entry.Path);
        m_Queue.WaitStopped(l_Host + ": " + p_Done.Reason + ", still after 31 s of retries; the download stopped "
                            "(run the update again once the server is back).");
        return;
    }
    ++m_Restarts[p_Entry.Path];
    const int l_Seconds = 1 << l_Restarts;
    m_App.ShowMessageBox(l_Host + ": " + p_Done.Reason + "; trying again in " + QString::number(l_Seconds) + " s.",
                         true);
    const quint64 l_Pass = m_Passes.Current();
    const QString l_Path = p_Entry.Path;
    // A stop, a new pass or the launcher closing meanwhile: nothing to do.
    QTimer::singleShot(l_Seconds * 1000, &m_App, [this, l_Pass, l_Path] { m_Queue.Retry(l_Pass, l_Path); });
}

bool FileFinisher::Place(const ManifestFile& p_Entry, const Transfer& p_Done, qint64 p_Have, const QString& p_Md5,
                         bool p_Read)
{
    KESTRUN_OWNED_BY(m_App.thread());
    const PartFile l_File(m_App.m_InstallationPath, p_Entry);
    if (!p_Read || p_Md5 != p_Entry.Md5)
    {
        // A host that delivered nothing towards a file that is not right failed (an error answer, a dead
        // host): it is avoided from now on. A whole ".part" it answered 416 for, with the file's size, did
        // not fail; nor does an empty file, which checks right.
        // No ".part" at all: this machine could not create it, whatever the host did.
        if (p_Done.WrittenBytes == 0 && p_Have >= 0 && !(p_Done.FullSize > 0 && p_Have == p_Done.FullSize))
            m_Cdn.MarkFailed(p_Done.Url, p_Done.Reason);
        // Whole (or longer) and wrong: bad bytes never reach the final name; the next transfer starts afresh.
        l_File.Discard();
        RestartOrGiveUp(p_Entry, qMax<qint64>(0, p_Have),
                        p_Read ? "(MD5) Download restarted for " : "(IO) Download restarted for ");
        return true;
    }
    if (MoveIntoPlace(p_Entry, p_Have))
        return true;
    WaitForRelease(p_Entry, p_Done, p_Have, 0);
    return false;
}

bool FileFinisher::MoveIntoPlace(const ManifestFile& p_Entry, qint64 p_Have)
{
    KESTRUN_OWNED_BY(m_App.thread());
    const PartFile l_File(m_App.m_InstallationPath, p_Entry);
    QString l_OldError;
    const PartFile::Placing l_Placing = l_File.MoveIntoPlace(&l_OldError);
    if (l_Placing == PartFile::Placing::InUse)
        return false;
    if (!l_OldError.isEmpty())
        m_App.ShowMessageBox("File " + l_File.Final() + " error : " + l_OldError, false);
    if (l_Placing == PartFile::Placing::Refused)
    {
        // The verified ".part" stays: the next transfer finds it whole.
        RestartOrGiveUp(p_Entry, 0, "(RENAME) Download restarted for ");
        return true;
    }
    m_Queue.AddCompleted(p_Have);
    m_Restarts.remove(p_Entry.Path);
    // Only now, with the file in place, does its line leave the list.
    m_Queue.UpdateListLine(QString());
    return true;
}

void FileFinisher::WaitForRelease(const ManifestFile& p_Entry, const Transfer& p_Done, qint64 p_Have,
                                  unsigned p_Attempt)
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (p_Attempt == 0)
    {
        const PartFile l_File(m_App.m_InstallationPath, p_Entry);
        QString l_Held = l_File.Held();
        if (l_Held.isEmpty())
            l_Held = l_File.Final();
        // Fetching it again would not help: the checked ".part" keeps every byte and waits, the file stays listed.
        qCWarning(LauncherLog).noquote() << "(INUSE) Download waits for " + p_Entry.Location;
        m_App.ShowMessageBox("File " + l_Held +
                                 " error : it is in use by another program, which keeps it from being replaced; the "
                                 "download is kept and replaces it as soon as that program lets go of it.",
                             false);
        m_MessageBeforeHeld = m_App.m_Status.Message;
        m_App.m_Status.Message = "Waiting for " + l_Held + " (in use by another program)...";
        StatusRecord::Changed(m_App);
    }
    m_Held = true;
    const quint64 l_Wait = ++m_HeldWait;
    const quint64 l_Pass = m_Passes.Current();
    const int l_Pause = DeferredDeletes::HeldPauseMs(p_Attempt);
    QTimer::singleShot(l_Pause, &m_App, [this, l_Wait, l_Pass, p_Entry, p_Done, p_Have, p_Attempt] {
        // Called off (a stop, a new pass): nothing to do.
        if (l_Wait != m_HeldWait)
            return;
        // The launcher closing meanwhile: the ".part" and its line stay for the next run.
        if (!m_Queue.StillCurrent(l_Pass, p_Entry.Path))
            return EndWait();
        if (!MoveIntoPlace(p_Entry, p_Have))
            return WaitForRelease(p_Entry, p_Done, p_Have, p_Attempt + 1);
        EndWait();
        m_Queue.Next(p_Done.LastSample);
    });
}

void FileFinisher::CallOff()
{
    m_Digest.CallOff();
    EndWait();
}

void FileFinisher::EndWait()
{
    KESTRUN_OWNED_BY(m_App.thread());
    if (!m_Held)
        return;
    m_Held = false;
    ++m_HeldWait;
    m_App.m_Status.Message = m_MessageBeforeHeld;
    StatusRecord::Changed(m_App);
}

} // namespace Launcher
} // namespace Orvane
