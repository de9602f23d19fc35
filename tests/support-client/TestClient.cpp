// A game-client stand-in for Windows, where the tests cannot start a shell script or a copy of sleep.
// With KESTRUN_TEST_CLIENT_MARKER set it writes its file name, its arguments and its working folder to
// that file (one per line, written aside and renamed) and ends; otherwise it stays up for as many
// seconds as its first argument says.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

int main(int argc, char** argv)
{
    QCoreApplication l_App(argc, argv);
    const QString l_Marker = qEnvironmentVariable("KESTRUN_TEST_CLIENT_MARKER");
    const QStringList l_Arguments = QCoreApplication::arguments();
    if (l_Marker.isEmpty())
    {
        QThread::sleep(l_Arguments.value(1).toULong());
        return 0;
    }
    QStringList l_Lines{QFileInfo(QCoreApplication::applicationFilePath()).fileName()};
    l_Lines += l_Arguments.mid(1);
    l_Lines += QDir::currentPath();
    QFile l_File(l_Marker + ".tmp");
    if (!l_File.open(QIODevice::WriteOnly) || l_File.write((l_Lines.join('\n') + '\n').toUtf8()) < 0)
        return 1;
    l_File.close();
    return QFile::rename(l_File.fileName(), l_Marker) ? 0 : 1;
}
