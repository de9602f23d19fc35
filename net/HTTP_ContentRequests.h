#pragma once
#include <QByteArray>
#include <QNetworkReply>
#include <QString>
#include <functional>
#include <memory>

namespace Orvane {
namespace Launcher {

class Transfer;
class TransferSink;

/// One in-memory content request (HTTP_GetContent).
struct HTTP_GetContentRequest
{
    QString Url;
    std::function<void(QString, QByteArray*)> OnDone;
    QNetworkReply* Reply = nullptr;
    QByteArray Data;
    /// The caller's error action, also told of a body cut short that Qt reports as complete.
    std::function<void(QNetworkReply::NetworkError)> OnError;
    Transfer* Engine = nullptr; ///< the transfer that fills Data (its key in the table)
    std::unique_ptr<TransferSink> Sink;
    ~HTTP_GetContentRequest();
};

/// One content-size request (HTTP_GetContentSize).
struct HTTP_GetContentSizeRequest
{
    QString Url;
    std::function<void(QString, quint64)> OnSize;
    QNetworkReply* Reply = nullptr;
    Transfer* Engine = nullptr; ///< its key in the table
};

} // namespace Launcher
} // namespace Orvane
