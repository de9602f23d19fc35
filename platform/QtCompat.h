#pragma once
// Spellings that changed between Qt 5.12 (the real host) and 5.15.
#include <QtGlobal>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <QAbstractSocket>
#include <QNetworkReply>
#include <QSet>
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
#include <QElapsedTimer>
#else
#include <QTime>
#endif

namespace Orvane {
namespace Compat {

#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
/// Times speed samples and progress reports (QTime's timing calls are deprecated in 5.14).
using ElapsedTimer = QElapsedTimer;
constexpr auto SkipEmptyParts = Qt::SkipEmptyParts;
constexpr auto KeepEmptyParts = Qt::KeepEmptyParts;
inline QTextStream& endl(QTextStream& s) { return Qt::endl(s); }
#else
using ElapsedTimer = QTime;
constexpr auto SkipEmptyParts = QString::SkipEmptyParts;
constexpr auto KeepEmptyParts = QString::KeepEmptyParts;
inline QTextStream& endl(QTextStream& s) { return ::endl(s); }
#endif

/// The reply's and the socket's error signals (renamed errorOccurred in 5.15).
#if QT_VERSION >= QT_VERSION_CHECK(5, 15, 0)
constexpr auto ReplyError = &QNetworkReply::errorOccurred;
constexpr auto SocketError = &QAbstractSocket::errorOccurred;
#else
constexpr auto ReplyError = static_cast<void (QNetworkReply::*)(QNetworkReply::NetworkError)>(&QNetworkReply::error);
constexpr auto SocketError = static_cast<void (QAbstractSocket::*)(QAbstractSocket::SocketError)>(&QAbstractSocket::error);
#endif

/// The set of a list's strings (QList::toSet is deprecated in 5.14, the range constructor new in it).
inline QSet<QString> ToSet(const QStringList& p_List)
{
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    return QSet<QString>(p_List.begin(), p_List.end());
#else
    return p_List.toSet();
#endif
}

} // namespace Compat
} // namespace Orvane
