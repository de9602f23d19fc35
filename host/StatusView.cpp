#include "host/StatusView.h"
#include "host/Console.h"

#include <QJsonDocument>
#include <QStringList>

namespace Orvane {
namespace Host {

namespace {
const int c_BarCells = 20;
const int c_MinBarCells = 5; ///< a narrower bar tells nothing
const qint64 c_TerminalPaceMs = 100;
const qint64 c_PlainPaceMs = 1000;
} // namespace

QString StatusView::HumanBytes(qint64 p_Bytes)
{
    static const char* const s_Units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double l_Value = double(p_Bytes < 0 ? 0 : p_Bytes);
    int l_Unit = 0;
    while (l_Value >= 1024.0 && l_Unit < 4)
    {
        l_Value /= 1024.0;
        ++l_Unit;
    }
    if (l_Unit == 0)
        return QString::number(qint64(l_Value)) + " B";
    // One decimal everywhere, so that two figures side by side read alike.
    return QString::number(l_Value, 'f', 1) + " " + s_Units[l_Unit];
}

QString StatusView::HumanDuration(qint64 p_Seconds)
{
    if (p_Seconds < 60)
        return QString::number(p_Seconds) + "s";
    if (p_Seconds < 3600)
        return QString::number(p_Seconds / 60) + "m " + QString::number(p_Seconds % 60).rightJustified(2, '0') + "s";
    return QString::number(p_Seconds / 3600) + "h " + QString::number(p_Seconds % 3600 / 60).rightJustified(2, '0') +
           "m";
}

QString StatusView::StateText(const Launcher::ApplicationStatus& p_Status)
{
    if (p_Status.ApplicationState == Launcher::ApplicationState::Initialising)
        return QStringLiteral("Initialising");
    if (p_Status.Busy)
    {
        switch (p_Status.DownloadStatus)
        {
            case 0: return QStringLiteral("Waiting for the download turn");
            case 1: return QStringLiteral("Waiting for the game to close");
            case 2: return QStringLiteral("Preparing");
            case 3: return QStringLiteral("Downloading");
            case 4: return QStringLiteral("Stopped");
            case 5: return QStringLiteral("Checking files");
            default: break;
        }
    }
    if (p_Status.DownloadStatus == Launcher::DownloadStatus::Stopped)
        return QStringLiteral("Stopped");
    return p_Status.ApplicationState == Launcher::ApplicationState::NotInstalled ? QStringLiteral("Not installed") : QStringLiteral("Installed");
}

QString StatusView::FormatLine(const Launcher::ApplicationStatus& p_Status, int p_Width, qint64 p_Rate)
{
    const int l_Percent = ShownPercent(p_Status);
    // A step of unknown length (waiting for the turn or the game, preparing, stopped before anything was
    // counted) has no figure: the module's 100 there measures nothing.
    const bool l_Unknown = !Measured(p_Status);

    // The figures after the bar, the ones that matter most first.
    QStringList l_Figures{l_Unknown ? QStringLiteral("  ...") : QString::number(l_Percent).rightJustified(4) + "%"};
    // Bytes while transferring (or stopped in a transfer), sizes summed while preparing, files while checking.
    bool l_Bytes = p_Status.DownloadStatus == Launcher::DownloadStatus::Downloading || p_Status.DownloadStatus == Launcher::DownloadStatus::Stopped;
    if (p_Status.Total > 0 && (p_Status.Busy || p_Status.DownloadStatus == Launcher::DownloadStatus::Stopped))
    {
        if (l_Bytes)
            l_Figures << "  " + HumanBytes(p_Status.Done) + " / " + HumanBytes(p_Status.Total);
        else if (p_Status.DownloadStatus == Launcher::DownloadStatus::Preparing)
            l_Figures << "  " + HumanBytes(p_Status.Total) + " to fetch";
        else if (p_Status.DownloadStatus == Launcher::DownloadStatus::Checking)
            l_Figures << "  " + QString::number(p_Status.Done) + " / " + QString::number(p_Status.Total) + " files";
    }
    if (p_Status.Busy && p_Status.DownloadStatus == Launcher::DownloadStatus::Downloading && p_Rate > 0)
    {
        l_Figures << "  " + HumanBytes(p_Rate) + "/s";
        qint64 l_Left = p_Status.Total - p_Status.Done;
        if (l_Left > 0)
            l_Figures << "  " + HumanDuration((l_Left + p_Rate - 1) / p_Rate) + " left";
    }
    // The content store counts its transfers: file k of n.
    if (p_Status.DetailVisible && p_Status.DetailValue > 0 && p_Status.DownloadStatus == Launcher::DownloadStatus::Downloading)
        l_Figures << "  " + p_Status.Detail.toLower();

    QString l_Message = p_Status.Message.trimmed();
    if (l_Message.isEmpty())
        l_Message = StateText(p_Status);

    // The last column stays free (a full line would wrap on some terminals). The words keep their
    // room: the bar shrinks first, then goes, then the least needed figures go, and only then is
    // the text cut.
    const int l_Room = qMax(1, p_Width - 1);
    auto l_FiguresSize = [&l_Figures] {
        int l_Size = 0;
        for (const QString& l_Figure : l_Figures)
            l_Size += l_Figure.size();
        return l_Size;
    };
    int l_Cells = qMin(c_BarCells, l_Room - l_Message.size() - l_FiguresSize() - 3);
    if (l_Cells < c_MinBarCells)
        l_Cells = 0;
    while (l_Cells == 0 && l_Figures.size() > 1 && l_Message.size() + l_FiguresSize() > l_Room)
        l_Figures.removeLast();
    const int l_TextRoom = l_Room - l_FiguresSize();
    if (l_Cells == 0 && l_Message.size() > l_TextRoom)
        l_Message = l_TextRoom > 3 ? l_Message.left(l_TextRoom - 3) + "..." : l_Message.left(qMax(0, l_TextRoom));

    QString l_Bar;
    if (l_Unknown && !p_Status.Busy)
    {
        l_Cells = 0; // at rest with nothing counted: the words alone
        l_Figures.removeFirst();
    }
    if (l_Cells > 0)
    {
        const int l_Filled = l_Percent * l_Cells / 100;
        l_Bar = " [" + (l_Unknown ? QString(l_Cells, '~') : QString(l_Filled, '#') + QString(l_Cells - l_Filled, '.')) +
                "]";
    }
    return (l_Message + l_Bar + l_Figures.join(QString())).left(l_Room);
}

bool StatusView::Measured(const Launcher::ApplicationStatus& p_Status)
{
    // Bytes while transferring or stopped in a transfer, files while checking: a figure against a total.
    const bool l_Counted = p_Status.DownloadStatus == Launcher::DownloadStatus::Downloading || p_Status.DownloadStatus == Launcher::DownloadStatus::Stopped || p_Status.DownloadStatus == Launcher::DownloadStatus::Checking;
    return l_Counted && p_Status.Total > 0;
}

int StatusView::ShownPercent(const Launcher::ApplicationStatus& p_Status)
{
    // Bytes: the share really done (a stop may leave the module's 100 of a step of unknown length).
    if ((p_Status.DownloadStatus == Launcher::DownloadStatus::Downloading || p_Status.DownloadStatus == Launcher::DownloadStatus::Stopped) && p_Status.Total > 0)
        return int(qBound<qint64>(0, p_Status.Done * 100 / p_Status.Total, 100));
    return qBound(0, int(p_Status.Percent), 100);
}

QJsonObject StatusView::ToJson(const Launcher::ApplicationStatus& p_Status)
{
    return QJsonObject{
        {"event", "status"},
        {"ApplicationState", int(p_Status.ApplicationState)},
        {"DownloadStatus", int(p_Status.DownloadStatus)},
        {"Busy", p_Status.Busy},
        {"Percent", Measured(p_Status) ? QJsonValue(ShownPercent(p_Status)) : QJsonValue(QJsonValue::Null)},
        {"Done", double(p_Status.Done)},
        {"Total", double(p_Status.Total)},
        {"Speed", double(p_Status.Speed)},
        {"Detail", p_Status.Detail},
        {"DetailValue", int(p_Status.DetailValue)},
        {"DetailVisible", p_Status.DetailVisible},
        {"Message", p_Status.Message},
    };
}

bool StatusView::SameProgress(const Launcher::ApplicationStatus& p_A, const Launcher::ApplicationStatus& p_B)
{
    return p_A.ApplicationState == p_B.ApplicationState && p_A.DownloadStatus == p_B.DownloadStatus &&
           p_A.Busy == p_B.Busy && p_A.Percent == p_B.Percent && p_A.Done == p_B.Done && p_A.Total == p_B.Total &&
           p_A.Detail == p_B.Detail && p_A.DetailValue == p_B.DetailValue && p_A.DetailVisible == p_B.DetailVisible &&
           p_A.Message == p_B.Message;
}

void StatusView::Show(const Launcher::ApplicationStatus& p_Status, qint64 p_NowMs, qint64 p_Moved)
{
    if (m_Mode == Json)
    {
        QJsonObject l_Object = ToJson(p_Status);
        if (l_Object == m_LastJson)
            return;
        m_LastJson = l_Object;
        Console::Out(QString::fromUtf8(QJsonDocument(l_Object).toJson(QJsonDocument::Compact)));
        return;
    }
    if (!m_Clock.isValid())
        m_Clock.start();
    if (p_Status.Busy && p_Status.DownloadStatus == Launcher::DownloadStatus::Downloading)
        m_Rate.Add(p_NowMs >= 0 ? p_NowMs : m_Clock.elapsed(), p_Moved >= 0 ? p_Moved : p_Status.Done);
    else
        m_Rate.Reset();
    m_Pending = p_Status;
    m_HasPending = true;
    Tick();
}

void StatusView::Tick()
{
    if (m_Finished)
        return;
    // A message printed meanwhile took the progress line away: put it back.
    if (!m_HasPending && m_Mode == Terminal && !m_LastLine.isEmpty() && !Console::BarVisible())
        Console::Bar(m_LastLine);
    if (!m_HasPending)
        return;
    qint64 l_Pace = m_Mode == Terminal ? c_TerminalPaceMs : c_PlainPaceMs;
    if (m_LastDraw.isValid() && m_LastDraw.elapsed() < l_Pace)
        return;
    Draw();
}

void StatusView::Flush()
{
    if (m_HasPending && !m_Finished)
        Draw();
}

void StatusView::Finish()
{
    if (m_Finished)
        return;
    if (m_HasPending)
        Draw();
    m_Finished = true;
    if (m_Mode == Terminal)
        Console::EndBar();
}

void StatusView::Draw()
{
    m_HasPending = false;
    QString l_Line = FormatLine(m_Pending, m_Mode == Terminal ? Console::Width() : 1000, m_Rate.Rate());
    if (l_Line == m_LastLine)
        return;
    m_LastLine = l_Line;
    m_LastDraw.start();
    if (m_Mode == Terminal)
        Console::Bar(l_Line);
    else
        Console::Out(l_Line);
}

} // namespace Host
} // namespace Orvane
