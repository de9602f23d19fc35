#pragma once
#include "TestHttpServer.h"

#include <QElapsedTimer>
#include <QString>
#include <QTest>

#include <functional>

/// What a stop promises, checked on the wire: the server sees the stopped transfer's connection
/// close (p_ClosedBefore: ClosedConnections() before the stop; -1 when no transfer was in flight),
/// then for p_QuietMs no request of p_Path (any when empty) arrives and p_Size does not change.
/// Empty when kept, else what broke it.
inline QString QuietAfterStop(TestHttpServer& p_Server, int p_ClosedBefore, int p_QuietMs,
                              std::function<qint64()> p_Size = nullptr, const QString& p_Path = QString())
{
    if (p_ClosedBefore >= 0 &&
        !QTest::qWaitFor([&] { return p_Server.ClosedConnections() > p_ClosedBefore; }, 30000))
        return QStringLiteral("the stopped transfer's connection stayed open");
    const int l_Requests = p_Server.Requests(p_Path).size();
    const qint64 l_Size = p_Size ? p_Size() : 0;
    QElapsedTimer l_Clock;
    l_Clock.start();
    while (l_Clock.elapsed() < p_QuietMs)
    {
        QTest::qWait(50);
        const QList<TestHttpServer::Request> l_Now = p_Server.Requests(p_Path);
        if (l_Now.size() != l_Requests)
            return "a request came after the stop: " + l_Now.last().Path;
        if (p_Size && p_Size() != l_Size)
            return QStringLiteral("%1 bytes grew to %2 after the stop").arg(l_Size).arg(p_Size());
    }
    return QString();
}
