// kestrun-bench-downloader [-i URL_FILE] URL... -o FOLDER [--resume]
// Fetches each URL in turn through Application::HTTP_DownloadFile (one transfer after
// the other on the application's download thread, as the download queue does) into FOLDER/<n>, then prints
// "files bytes seconds" on one line. Driven by bench/downloader.sh.
#include "net/ApplicationAsyncHttpDownloader.h"
#include "tests/support/BareApplication.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace Orvane::Launcher;

namespace {

void Report(QString p_Text, bool)
{
    std::fprintf(stderr, "%s\n", qPrintable(p_Text));
}

void Quiet(QtMsgType p_Type, const QMessageLogContext&, const QString& p_Message)
{
    if (p_Type != QtWarningMsg || !p_Message.startsWith("ApplicationAsyncHttpDownloader::"))
        std::fprintf(stderr, "%s\n", qPrintable(p_Message));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication l_Core(argc, argv);
    qInstallMessageHandler(Quiet);
    QStringList l_Urls;
    QString l_Folder;
    bool l_Resume = false;
    const QStringList l_Args = l_Core.arguments().mid(1);
    for (int l_Index = 0; l_Index < l_Args.size(); ++l_Index)
    {
        if (l_Args[l_Index] == "-o" && l_Index + 1 < l_Args.size())
            l_Folder = l_Args[++l_Index];
        else if (l_Args[l_Index] == "-i" && l_Index + 1 < l_Args.size())
        {
            QFile l_List(l_Args[++l_Index]);
            if (l_List.open(QIODevice::ReadOnly | QIODevice::Text))
                for (const QByteArray& l_Line : l_List.readAll().split('\n'))
                    if (!l_Line.trimmed().isEmpty())
                        l_Urls << QString::fromUtf8(l_Line.trimmed());
        }
        else if (l_Args[l_Index] == "--resume")
            l_Resume = true;
        else
            l_Urls << l_Args[l_Index];
    }
    if (l_Folder.isEmpty() || l_Urls.isEmpty())
    {
        std::fprintf(stderr, "usage: kestrun-bench-downloader [-i URL_FILE] URL... -o FOLDER [--resume]\n");
        return 2;
    }
    QDir().mkpath(l_Folder);

    BareApplication l_App;
    l_App.ShowMessageBox = Report;
    // The host's worker queue: runs the downloaders' clean-up actions.
    std::atomic<bool> l_Running{true};
    std::thread l_Worker([&] {
        while (l_Running)
        {
            Task l_Task;
            if (l_App.TakeWorkerTask(l_Task))
                l_Task();
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });

    int l_Next = 0;
    qint64 l_Bytes = 0;
    QElapsedTimer l_Timer;
    std::function<void()> l_StartNext;
    QObject::connect(&l_App, &Application::OnHTTPDownloadProgressComplete, &l_App,
                     [&](HTTP_DownloadFileRequest* p_Request) {
                         l_Bytes += p_Request->FileSize;
                         if (l_Next < l_Urls.size())
                             l_StartNext();
                         else
                             QCoreApplication::quit();
                     });
    l_StartNext = [&] {
        const QString l_Path = QDir(l_Folder).filePath(QString::number(l_Next));
        l_App.HTTP_DownloadFile(l_Urls[l_Next], l_Path, l_Resume);
        ++l_Next;
    };
    l_Timer.start();
    QTimer::singleShot(0, &l_App, [&] { l_StartNext(); });
    l_Core.exec();
    const double l_Seconds = l_Timer.nsecsElapsed() / 1e9;

    while (ApplicationAsyncHttpDownloader::LiveCount() > 0)
        QThread::msleep(1);
    l_Running = false;
    l_Worker.join();
    QCoreApplication::sendPostedEvents();
    std::printf("%d %lld %.6f\n", l_Urls.size(), static_cast<long long>(l_Bytes), l_Seconds);
    return 0;
}
