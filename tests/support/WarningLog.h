#pragma once
#include <QMutex>
#include <QStringList>

#include <functional>

/// Records every qWarning line (from any thread) while it exists, and still
/// passes them on unless Silence says otherwise. OnLine, when set, runs inside the
/// logging call.
class WarningLog
{
public:
    WarningLog();
    ~WarningLog();

    QStringList Lines() const;
    /// Lines that start with p_Prefix.
    QStringList Starting(const QString& p_Prefix) const;

    std::function<void(const QString&)> OnLine;
    /// Lines it answers true for are recorded but not passed on (expected noise).
    std::function<bool(const QString&)> Silence;

private:
    static void Handler(QtMsgType p_Type, const QMessageLogContext& p_Context, const QString& p_Message);

    static WarningLog* s_Current;
    QtMessageHandler m_Previous = nullptr;
    mutable QMutex m_Mutex;
    QStringList m_Lines;
};
