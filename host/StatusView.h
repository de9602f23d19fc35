#pragma once
#include "host/RateMeter.h"
#include "launcher/Application.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>

namespace Orvane {
namespace Host {

/// Presents the module's status record: a progress line redrawn in place on a
/// terminal, at most one plain line a second otherwise, or one JSON object per change.
class StatusView
{
public:
    enum Mode
    {
        Terminal,
        Plain,
        Json,
    };

    explicit StatusView(Mode p_Mode) : m_Mode(p_Mode) {}

    /// A changed record was read at p_NowMs (-1: now); shown now or at the next Tick. p_Moved: the bytes the
    /// transfers moved in this run so far, which the rate counts (-1: the record's Done).
    void Show(const Launcher::ApplicationStatus& p_Status, qint64 p_NowMs = -1, qint64 p_Moved = -1);
    /// The transfer rate the line shows (bytes per second), -1 while unknown.
    qint64 Rate() const { return m_Rate.Rate(); }
    /// Shows a pending record once its pacing allows.
    void Tick();
    /// Shows a pending record now.
    void Flush();
    /// Shows a pending record now and ends the progress line.
    void Finish();

    /// One line: message, bar, percent, done/total, and while downloading the rate (bytes per second,
    /// -1 unknown) with the time left, once the rate is known.
    static QString FormatLine(const Launcher::ApplicationStatus& p_Status, int p_Width, qint64 p_Rate);
    /// The record's "Percent" null while nothing is measured (see Measured).
    static QJsonObject ToJson(const Launcher::ApplicationStatus& p_Status);
    /// The record counts something against a known total (bytes, files): its percentage means something.
    static bool Measured(const Launcher::ApplicationStatus& p_Status);
    /// The percentage shown: Done over Total while bytes are counted, else the module's.
    static int ShownPercent(const Launcher::ApplicationStatus& p_Status);
    static QString HumanBytes(qint64 p_Bytes);
    static QString HumanDuration(qint64 p_Seconds);
    /// The text shown for the record when the module gives no message.
    static QString StateText(const Launcher::ApplicationStatus& p_Status);
    /// Same progress: every field but the speed is equal.
    static bool SameProgress(const Launcher::ApplicationStatus& p_A, const Launcher::ApplicationStatus& p_B);

private:
    void Draw();

    Mode m_Mode;
    Launcher::ApplicationStatus m_Pending;
    bool m_HasPending = false;
    bool m_Finished = false;
    QElapsedTimer m_LastDraw;
    QElapsedTimer m_Clock;  ///< times the samples of m_Rate
    RateMeter m_Rate;       ///< main thread
    QString m_LastLine;
    QJsonObject m_LastJson;
};

} // namespace Host
} // namespace Orvane
