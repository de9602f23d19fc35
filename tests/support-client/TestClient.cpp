// A game-client stand-in for Windows, where the tests cannot start a shell script or a copy of sleep.
// With KESTRUN_TEST_CLIENT_MARKER set it writes its file name, its arguments and its working folder to
// that file (one per line, written aside and renamed) and ends; otherwise it stays up for as many
// seconds as its first argument says.
// "--hold FILE MARKER": holds FILE open as a game client, an antivirus or a backup tool may (reading,
// sharing neither writes nor deletion), creates MARKER once it does, and lets go when MARKER is removed
// (or when it is killed). "--scan FILE MARKER": the same, sharing reads and writes but not deletion, as an
// antivirus scanning a file that was just closed.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <windows.h>

namespace {
int Hold(const QString& p_File, const QString& p_Marker, DWORD p_Share)
{
    HANDLE l_Held = ::CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(p_File).utf16()),
                                  GENERIC_READ, p_Share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (l_Held == INVALID_HANDLE_VALUE)
        return 2;
    QFile l_Marker(p_Marker);
    if (!l_Marker.open(QIODevice::WriteOnly))
        return 3;
    l_Marker.close();
    // The test's side is a separate program: a file it removes is the one signal both sides see under Wine.
    while (QFile::exists(p_Marker))
        QThread::msleep(20);
    ::CloseHandle(l_Held);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication l_App(argc, argv);
    const QString l_Marker = qEnvironmentVariable("KESTRUN_TEST_CLIENT_MARKER");
    const QStringList l_Arguments = QCoreApplication::arguments();
    if (l_Arguments.value(1) == QLatin1String("--hold") && l_Arguments.size() == 4)
        return Hold(l_Arguments[2], l_Arguments[3], FILE_SHARE_READ);
    if (l_Arguments.value(1) == QLatin1String("--scan") && l_Arguments.size() == 4)
        return Hold(l_Arguments[2], l_Arguments[3], FILE_SHARE_READ | FILE_SHARE_WRITE);
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
