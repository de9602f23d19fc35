// What the closed launcher relies on: callback/vtable layout, meta-objects, settings, queues, locales.
#include "app/Kestrun.h"
#include "support/FakeHost.h"
#include "support/HostView.h"

#include <QMetaMethod>
#include <QtTest>

#include <cstddef>
#include <cstring>
#include <numeric>
#include <thread>

using namespace Orvane::Launcher;

namespace {
/// Index of a virtual function in its table (Itanium ABI: the pointer holds 1 + the slot's byte offset); else -1.
template <class F>
long VirtualSlot(F p_Function)
{
    static_assert(sizeof(F) == 2 * sizeof(std::ptrdiff_t), "Itanium member function pointer");
    std::ptrdiff_t l_Parts[2];
    std::memcpy(l_Parts, &p_Function, sizeof(l_Parts));
    return (l_Parts[0] & 1) ? long((l_Parts[0] - 1) / std::ptrdiff_t(sizeof(void*))) : -1;
}

/// The class's own methods, in order, as "signal ..." / "private slot ..." / "other ...".
QStringList OwnMethods(const QMetaObject& p_Meta)
{
    QStringList l_Out;
    for (int l_I = p_Meta.methodOffset(); l_I < p_Meta.methodCount(); ++l_I)
        l_Out << (p_Meta.method(l_I).methodType() == QMetaMethod::Signal ? "signal "
                  : p_Meta.method(l_I).access() == QMetaMethod::Private ? "private slot " : "other ")
                     + p_Meta.method(l_I).methodSignature();
    return l_Out;
}
} // namespace

// Every member the host reads, as the module declares it and as the host was compiled to read it.
#define KESTRUN_HOST_VIEW(X)                                           \
    X(ShowMessageBox, ShowMessageBox)                                  \
    X(GetLocalSetting, GetLocalSetting)                                \
    X(SetLocalSetting, SetLocalSetting)                                \
    X(GetLocalSettingKeys, GetLocalSettingKeys)                        \
    X(RemoveLocalSetting, RemoveLocalSetting)                          \
    X(GetLauncherLocale, GetLauncherLocale)                            \
    X(IsDownloadLocked, IsDownloadLocked)                              \
    X(LockDownload, LockDownload)                                      \
    X(UnlockDownload, UnlockDownload)                                  \
    X(IsLauncherRunning, IsLauncherRunning)                            \
    X(IsDevChannel, IsDevChannel)                                      \
    X(m_HostWords, HostWords)                                          \
    X(m_StateChanged, StateChanged)                                    \
    X(m_Name, Name)                                                    \
    X(m_FolderName, FolderName)                                        \
    X(m_InstallationPath, InstallationPath)                            \
    X(m_NetworkManager, NetworkManager)                                \
    X(m_UnusedRequests, UnusedRequests)                                \
    X(m_UnusedRequestsMutex, UnusedRequestsMutex)                      \
    X(m_ContentRequests, ContentRequests)                              \
    X(m_ContentRequestsMutex, ContentRequestsMutex)                    \
    X(m_ContentSizeRequests, ContentSizeRequests)                      \
    X(m_ContentSizeRequestsMutex, ContentSizeRequestsMutex)            \
    X(m_MainTasks, MainTasks)                                          \
    X(m_MainTasksMutex, MainTasksMutex)                                \
    X(m_WorkerTasks, WorkerTasks)                                      \
    X(m_WorkerTasksMutex, WorkerTasksMutex)                            \
    X(m_HostTasks, HostTasks)                                          \
    X(m_HostTasksMutex, HostTasksMutex)                                \
    X(m_HostNumber, HostNumber)                                        \
    X(m_HostMutex, HostMutex)                                          \
    X(m_Status.ApplicationState, Status.ApplicationState)              \
    X(m_Status.DownloadStatus, Status.DownloadStatus)                  \
    X(m_Status.Busy, Status.Busy)                                      \
    X(m_Status.Percent, Status.Percent)                                \
    X(m_Status.Done, Status.Done)                                      \
    X(m_Status.Total, Status.Total)                                    \
    X(m_Status.Speed, Status.Speed)                                    \
    X(m_Status.Detail, Status.Detail)                                  \
    X(m_Status.DetailValue, Status.DetailValue)                        \
    X(m_Status.DetailVisible, Status.DetailVisible)                    \
    X(m_Status.Message, Status.Message)                                \
    X(m_SpeedSamples, SpeedSamples)                                    \
    X(m_SpeedSampleIndex, SpeedSampleIndex)                            \
    X(m_SpeedTimer, SpeedTimer)

// The same rows at compile time: a build whose tests cannot run where it is built (the 32-bit Windows
// build on a machine without 32-bit programs) still refuses a layout the host would misread.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif
#define KESTRUN_SAME_OFFSET(p_Module, p_Host)                                                               \
    static_assert(offsetof(Kestrun, p_Module) == offsetof(Orvane::Test::HostView, p_Host),                  \
                  #p_Module " is not where the host reads it");
KESTRUN_HOST_VIEW(KESTRUN_SAME_OFFSET)
#undef KESTRUN_SAME_OFFSET
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

class tst_interface : public QObject
{
    Q_OBJECT

private slots:
    void localeTable()
    {
        // Unused slots stay empty. Russian's native name starts with the Latin P, not the Cyrillic Er (U+0420).
        const QString l_Unused("0||||English|"), l_File("|Locales/locale_%1.qm");
        const QStringList l_Want{"0|English|English|enUS|English" + l_File.arg("enUS"),
            QString::fromUtf8("1|French|Fran\xc3\xa7" "ais|frFR|French") + l_File.arg("frFR"), l_Unused,
            QString::fromUtf8("3|Spanish|Espa\xc3\xb1ol|esES|Spanish") + l_File.arg("esES"),
            QString::fromUtf8("4|Russian|P\xd1\x83\xd1\x81\xd1\x81\xd0\xba\xd0\xb8\xd0\xb9|ruRU|Russian") + l_File.arg("ruRU"),
            l_Unused, l_Unused, QString::fromUtf8("7|Portuguese|Portugu\xc3\xaas|ptBR|Portuguese") + l_File.arg("ptBR"),
            l_Unused};
        QStringList l_Got;
        for (const LauncherLocale& l_Locale : g_LauncherLocales)
            l_Got << QStringList({QString::number(l_Locale._Locale), l_Locale._EnglishName, l_Locale._NativeName,
                                  l_Locale._Tag, QLocale::languageToString(l_Locale._QLocale.language()),
                                  l_Locale._TranslationFile}).join('|');
        QCOMPARE(l_Got, l_Want);
    }

    void settingKeys_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("folder");
        QTest::newRow("installed") << "wow_bfa.Installed" << QVariant(true) << true << "";
        QTest::newRow("text true (INI files)") << "wow_bfa.Installed" << QVariant("true") << true << "";
        QTest::newRow("other case") << "WOW_BFA.Installed" << QVariant(true) << false << "";
        QTest::newRow("folder") << "wow_bfa.InstallFolder" << QVariant("/games/B f A/") << false << "/games/B f A/";
    }

    void settingKeys()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(bool, installed);
        QFETCH(QString, folder);
        Kestrun l_App;
        FakeHost l_Host; // after the app: it stops draining before the app goes
        l_Host.Attach(&l_App);
        l_Host.Settings[key] = value;
        const auto l_Before = l_Host.Settings;
        QCOMPARE(l_App.IsInstalled(), installed);
        QCOMPARE(l_App.GetInstallationPath(), folder);
        QCOMPARE(l_Host.Settings, l_Before); // reading never stores anything
        l_Host.Settings.clear(); // the cached folder follows the setting, also when it disappears
        QCOMPARE(l_App.GetInstallationPath(), QString(""));
        l_Host.Detach();
    }

    void speedShownIsASteadyAverage()
    {
        // A steady speed is shown as it is; one outlier moves the figure only part of the way; a new
        // steady speed is shown once it has lasted. Never more than the fastest sample, never below 0.
        Kestrun l_App;
        qint64 l_Shown = -1;
        auto l_Feed = [&](int p_Count, qint64 p_Speed) {
            for (int l_I = 0; l_I < p_Count; ++l_I)
            {
                l_App.AddSpeedSample(p_Speed);
                l_Shown = qint64(l_App.m_Status.Speed);
                if (l_Shown < 0 || l_Shown > 5000000)
                    return false;
            }
            return true;
        };
        QVERIFY(l_Feed(200, 1000000) && l_Shown == 1000000);
        QVERIFY(l_Feed(1, 5000000) && l_Shown > 1000000 && l_Shown < 5000000);
        QVERIFY(l_Feed(200, 250000) && l_Shown == 250000);
        QVERIFY(l_Feed(1, 0) && l_Shown < 250000 && l_Shown > 0);
    }

    void queuesKeepOrderAcrossThreads()
    {
        // A module thread posts to both queues while the host drains them on this one.
        Kestrun l_App;
        const int l_Count = 5000;
        std::vector<int> l_Main, l_Worker, l_InOrder(l_Count);
        std::thread l_Producer([&] {
            for (int l_I = 0; l_I < l_Count; ++l_I)
            {
                l_App.PostMainTask([&, l_I] { l_Main.push_back(l_I); });
                l_App.PostWorkerTask([&, l_I] { l_Worker.push_back(l_I); });
            }
        });
        Task l_Task;
        const bool l_Drained = QTest::qWaitFor([&] {
            while (l_App.TakeMainTask(l_Task) || l_App.TakeWorkerTask(l_Task))
                l_Task();
            return l_Main.size() == size_t(l_Count) && l_Worker.size() == size_t(l_Count);
        }, 20000);
        l_Producer.join(); // before any early return
        QVERIFY(l_Drained);
        std::iota(l_InOrder.begin(), l_InOrder.end(), 0);
        QVERIFY(l_Main == l_InOrder && l_Worker == l_InOrder);
        QVERIFY(l_App.m_HostTasks.empty()); // the host's own queue is never touched
    }

    void hostViewOffsets_data()
    {
        // Every member the host reads sits where the host, compiled against the interface alone, looks for it:
        // a member inserted anywhere before the speed timer moves one of these rows on some ABI.
        QTest::addColumn<qint64>("module");
        QTest::addColumn<qint64>("host");
        Kestrun l_App;
        Orvane::Test::HostView l_View;
        const auto l_At = [](const QObject& p_Object, const void* p_Member) {
            return qint64(reinterpret_cast<const char*>(p_Member) - reinterpret_cast<const char*>(&p_Object));
        };
        const auto l_Row = [&](const char* p_Name, const void* p_Module, const void* p_Host) {
            QTest::newRow(p_Name) << l_At(l_App, p_Module) << l_At(l_View, p_Host);
        };
#define KESTRUN_ROW(p_Module, p_Host) l_Row(#p_Module, &l_App.p_Module, &l_View.p_Host);
        KESTRUN_HOST_VIEW(KESTRUN_ROW)
#undef KESTRUN_ROW
    }

    void hostViewOffsets()
    {
        QFETCH(qint64, module);
        QFETCH(qint64, host);
        QCOMPARE(module, host);
    }

    void hostAbi()
    {
        // The host connects by these signatures, in this order.
        QStringList l_Signals, l_Relays, l_Handlers;
        for (const QString l_Event : {"ProgressUpdate", "ProgressComplete", "Restarted"})
        {
            l_Signals << "signal OnHTTPDownload" + l_Event + "(HTTP_DownloadFileRequest*)";
            l_Relays << "private slot AppInt_OnHTTPDownload" + l_Event + "(HTTP_DownloadFileRequest*)";
            l_Handlers << "private slot App_OnHTTPDownload" + l_Event + "(HTTP_DownloadFileRequest*)";
        }
        const QMetaObject& l_Application = Application::staticMetaObject;
        QCOMPARE(l_Application.superClass(), &QObject::staticMetaObject);
        l_Relays << "private slot HTTP_GetContent_OnReadyRead()" << "private slot HTTP_GetContent_DownloadFinished()"
                 << "private slot HTTP_GetContentSize_MedaDataChanged()";
        QCOMPARE(OwnMethods(l_Application), l_Signals + l_Relays);
        const QMetaObject& l_Standart = StandartApplication::staticMetaObject;
        QCOMPARE(l_Standart.superClass(), &l_Application);
        QCOMPARE(OwnMethods(l_Standart), l_Handlers);
        QCOMPARE(Kestrun::staticMetaObject.methodCount(), l_Standart.methodCount());

        // The host writes by position: plain callback pointers right after QObject's own words.
        Kestrun l_App;
        QCOMPARE(reinterpret_cast<const char*>(&l_App.ShowMessageBox)
                     - reinterpret_cast<const char*>(static_cast<QObject*>(&l_App)),
                 std::ptrdiff_t(sizeof(QObject)));

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
        // It calls the operations through the slots after QObject's own; Kestrun adds none before them.
        using A = Application;
        using S = StandartApplication;
        const auto l_Slots = [](auto... p_Functions) { return std::vector<long>{VirtualSlot(p_Functions)...}; }(
            &A::Init, &A::Uninit, &A::GetRessource, &A::IsGameRunning, &A::Install, &A::Start, &A::Repair,
            &A::RebuildManifests, &A::Uninstall, &A::StopDownload, &A::ResumeDownload, &A::GetAvailableLocales,
            &A::GetAppLocale, &A::SetAppLocale, &A::IsCASCApp, &A::EnableCASC, &A::GetCustomIconAnimation,
            &A::GetCustomIconAnimationFramerate, &S::OnInstall, &S::AfterOnManifestReceived,
            &Kestrun::AfterOnManifestReceived);
        struct Last : QObject { static long Slot() { return VirtualSlot(&Last::disconnectNotify); } };
        for (size_t l_I = 0; l_I < l_Slots.size(); ++l_I)
            QCOMPARE(l_Slots[l_I], Last::Slot() + 1 + long(qMin(l_I, size_t(19))));
#endif
    }
};

QTEST_GUILESS_MAIN(tst_interface)
#include "tst_interface.moc"
