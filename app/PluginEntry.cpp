// The plugin's two entry points and its metadata, written by hand so that the
// bytes name the Qt version of the host the module is built for (5.12).
#include "app/Kestrun.h"
#include "KestrunVersion.h"

#include <QPointer>

#include <mutex>

namespace {

#define KESTRUN_METADATA_BYTES                                                                                \
    'Q', 'T', 'M', 'E', 'T', 'A', 'D', 'A', 'T', 'A', ' ', '!', /* magic */                                   \
        0, 5, 12, 0,           /* format 0, Qt 5.12, release build */                                         \
        '\xbf',                /* map of indefinite length */                                                \
        0x02, 0x72, 'O', 'r', 'v', 'a', 'n', 'e', '.', 'A', 'p', 'p', 'l', 'i', 'c', 'a', 't', 'i', 'o', 'n', \
        0x03, 0x67, 'K', 'e', 's', 't', 'r', 'u', 'n',                                                        \
        0x04, '\xa3',                                                                                         \
        0x6c, 'd', 'e', 'p', 'e', 'n', 'd', 'e', 'n', 'c', 'i', 'e', 's', '\x80',                             \
        0x64, 'n', 'a', 'm', 'e', 0x67, 'K', 'e', 's', 't', 'r', 'u', 'n',                                    \
        0x67, 'v', 'e', 'r', 's', 'i', 'o', 'n', KESTRUN_VERSION_CBOR,                                          \
        '\xff'

#if defined(_MSC_VER)
#pragma section(".qtmetad", read, shared)
__declspec(allocate(".qtmetad")) const char g_KestrunMetaData[] = {KESTRUN_METADATA_BYTES};
#elif defined(_WIN32)
__attribute__((section(".qtmetad"), used)) const char g_KestrunMetaData[] = {KESTRUN_METADATA_BYTES};
#else
__attribute__((section(".qtmetadata"), used)) const char g_KestrunMetaData[] = {KESTRUN_METADATA_BYTES};
#endif

#if defined(__GNUC__) || defined(__clang__)
// The launcher's locale table belongs to the shared interface: the module carries its own
// copy, built when the library is loaded and destroyed when it is unloaded.
__attribute__((used)) const Orvane::Launcher::LauncherLocale* const g_ModuleLocales = Orvane::Launcher::g_LauncherLocales;
#endif

} // namespace

extern "C" Q_DECL_EXPORT const char* qt_plugin_query_metadata()
{
    return g_KestrunMetaData;
}

extern "C" Q_DECL_EXPORT QObject* qt_plugin_instance()
{
    // Guarded so that two threads asking at once still share one object.
    static std::mutex s_Mutex;
    static QPointer<QObject> s_Instance;
    std::lock_guard<std::mutex> l_Lock(s_Mutex);
    if (!s_Instance)
        s_Instance = new Orvane::Launcher::Kestrun();
    return s_Instance;
}
