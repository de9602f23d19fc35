#pragma once
#include <QByteArray>
#include <QNetworkReply>
#include <QString>
#include <functional>

namespace Orvane {
namespace Launcher {

/// One in-memory content request (HTTP_GetContent).
struct HTTP_GetContentRequest
{
    QString Url;
    std::function<void(QString, QByteArray*)> OnDone;
    QNetworkReply* Reply = nullptr;
    QByteArray Data;
    /// The caller's error action, also told of a body cut short that Qt reports as complete.
    std::function<void(QNetworkReply::NetworkError)> OnError;
};

/// One content-size request (HTTP_GetContentSize).
struct HTTP_GetContentSizeRequest
{
    QString Url;
    std::function<void(QString, quint64)> OnSize;
    QNetworkReply* Reply = nullptr;
};

} // namespace Launcher
} // namespace Orvane
