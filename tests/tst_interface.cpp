// The host interface as the closed launcher relies on it: the layout of the
// object, the slot order of the virtual operations, the meta-objects, the
// settings, the queues, the speed ring and the launcher's locale table.
#include "app/Kestrun.h"
#include "support/FakeHost.h"

#include <QMetaMethod>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <thread>

using namespace Orvane::Launcher;

namespace {
/// Exposes what the host can see of the object's connections.
class ProbeKestrun : public Kestrun
{
public:
    using QObject::receivers;
};

/// Index of a virtual function in its class's table (Itanium C++ ABI on x86: the
/// pointer holds 1 + the byte offset of the slot).
template <class F>
long VirtualSlot(F p_Function)
{
    static_assert(sizeof(F) == 2 * sizeof(std::ptrdiff_t), "Itanium member function pointer");
    std::ptrdiff_t l_Parts[2];
    std::memcpy(l_Parts, &p_Function, sizeof(l_Parts));
    if ((l_Parts[0] & 1) == 0)
        return -1; // not virtual
    return long((l_Parts[0] - 1) / std::ptrdiff_t(sizeof(void*)));
}

struct LastQObjectVirtual : QObject
{
    static long Slot() { return VirtualSlot(&LastQObjectVirtual::disconnectNotify); }
};

struct Method
{
    QMetaMethod::MethodType Type;
    QMetaMethod::Access Access;
    const char* Signature;
};

QStringList Describe(const QMetaObject& p_Meta, int p_From)
{
    QStringList l_Out;
    for (int l_I = p_From; l_I < p_Meta.methodCount(); ++l_I)
    {
        QMetaMethod l_Method = p_Meta.method(l_I);
        l_Out << QString("%1 %2 %3 [%4]")
                     .arg(int(l_Method.methodType()))
                     .arg(int(l_Method.access()))
                     .arg(QString(l_Method.methodSignature()))
                     .arg(QString(l_Method.parameterNames().join(',')));
    }
    return l_Out;
}

QStringList Describe(std::initializer_list<Method> p_Methods)
{
    QStringList l_Out;
    for (const Method& l_Method : p_Methods)
        l_Out << QString("%1 %2 %3 [p_Request]").arg(int(l_Method.Type)).arg(int(l_Method.Access)).arg(l_Method.Signature);
    return l_Out;
}
} // namespace

class tst_interface : public QObject
{
    Q_OBJECT

private slots:
    void localeTable_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("locale");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("native");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("language");
        const QString l_None;
        QTest::newRow("0") << 0 << 0 << "English" << "English" << "Locales/locale_enUS.qm" << "enUS" << int(QLocale::English);
        QTest::newRow("1") << 1 << 1 << "French" << QString::fromUtf8("Fran\xc3\xa7" "ais") << "Locales/locale_frFR.qm"
                           << "frFR" << int(QLocale::French);
        QTest::newRow("2") << 2 << 0 << l_None << l_None << l_None << l_None << int(QLocale::English);
        QTest::newRow("3") << 3 << 3 << "Spanish" << QString::fromUtf8("Espa\xc3\xb1ol") << "Locales/locale_esES.qm"
                           << "esES" << int(QLocale::Spanish);
        QTest::newRow("4") << 4 << 4 << "Russian"
                           << QString::fromUtf8("P\xd1\x83\xd1\x81\xd1\x81\xd0\xba\xd0\xb8\xd0\xb9")
                           << "Locales/locale_ruRU.qm" << "ruRU" << int(QLocale::Russian);
        QTest::newRow("5") << 5 << 0 << l_None << l_None << l_None << l_None << int(QLocale::English);
        QTest::newRow("6") << 6 << 0 << l_None << l_None << l_None << l_None << int(QLocale::English);
        QTest::newRow("7") << 7 << 7 << "Portuguese" << QString::fromUtf8("Portugu\xc3\xaas") << "Locales/locale_ptBR.qm"
                           << "ptBR" << int(QLocale::Portuguese);
        QTest::newRow("8") << 8 << 0 << l_None << l_None << l_None << l_None << int(QLocale::English);
    }

    void localeTable()
    {
        QFETCH(int, row);
        QFETCH(int, locale);
        QFETCH(QString, english);
        QFETCH(QString, native);
        QFETCH(QString, file);
        QFETCH(QString, tag);
        QFETCH(int, language);
        QCOMPARE(int(LauncherLocaleCount), 9);
        const LauncherLocale& l_Row = g_LauncherLocales[row];
        QCOMPARE(int(l_Row._Locale), locale);
        QCOMPARE(l_Row._EnglishName, english);
        QCOMPARE(l_Row._NativeName, native);
        QCOMPARE(l_Row._TranslationFile, file);
        QCOMPARE(l_Row._Tag, tag);
        QCOMPARE(int(l_Row._QLocale.language()), language);
        if (!tag.isEmpty())
            QCOMPARE(int(l_Row._Locale), row); // the table is indexed by the Locales value
    }

    void russianNativeNameStartsWithLatinP()
    {
        const QString l_Name = g_LauncherLocales[Russian]._NativeName;
        QCOMPARE(l_Name.size(), 7);
        QCOMPARE(l_Name.at(0).unicode(), ushort(0x0050)); // Latin P, not the Cyrillic Er (U+0420)
        for (int l_I = 1; l_I < l_Name.size(); ++l_I)
            QVERIFY2(l_Name.at(l_I).unicode() >= 0x0400 && l_Name.at(l_I).unicode() <= 0x04FF, qPrintable(l_Name));
        QCOMPARE(l_Name.toUtf8(), QByteArray("P\xd1\x83\xd1\x81\xd1\x81\xd0\xba\xd0\xb8\xd0\xb9"));
    }

    void installedSetting_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("installed");
        QTest::newRow("absent") << QString() << QVariant() << false;
        QTest::newRow("true") << "wow_bfa.Installed" << QVariant(true) << true;
        QTest::newRow("false") << "wow_bfa.Installed" << QVariant(false) << false;
        QTest::newRow("text true (INI files)") << "wow_bfa.Installed" << QVariant("true") << true;
        QTest::newRow("other case") << "WOW_BFA.Installed" << QVariant(true) << false;
        QTest::newRow("no dot") << "wow_bfaInstalled" << QVariant(true) << false;
        QTest::newRow("other application") << "wow_legion.Installed" << QVariant(true) << false;
    }

    void installedSetting()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(bool, installed);
        FakeHost l_Host;
        Kestrun l_App;
        l_Host.Attach(&l_App);
        if (!key.isEmpty())
            l_Host.Settings[key] = value;
        const auto l_Before = l_Host.Settings;
        QCOMPARE(l_App.IsInstalled(), installed);
        QCOMPARE(l_Host.Settings, l_Before); // reading never stores anything
        l_Host.Detach();
    }

    void installationPath()
    {
        FakeHost l_Host;
        Kestrun l_App;
        l_Host.Attach(&l_App);
        QVERIFY(l_App.m_InstallationPath.isEmpty());
        QCOMPARE(l_App.GetInstallationPath(), QString(""));
        QVERIFY(l_Host.Settings.isEmpty());

        l_Host.Settings["wow_bfa.InstallFolder"] = "/games/Battle for Azeroth/";
        QCOMPARE(l_App.GetInstallationPath(), QString("/games/Battle for Azeroth/"));
        QCOMPARE(l_App.m_InstallationPath, QString("/games/Battle for Azeroth/"));

        // The cache follows the setting, also when it disappears.
        l_Host.Settings.remove("wow_bfa.InstallFolder");
        QCOMPARE(l_App.GetInstallationPath(), QString(""));
        QVERIFY(l_App.m_InstallationPath.isEmpty());
        l_Host.Detach();
    }

    void appLocaleDefaultsToLauncher_data()
    {
        QTest::addColumn<int>("launcher");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        QTest::newRow("English launcher") << int(English) << QString() << "enUS";
        QTest::newRow("French launcher") << int(French) << QString() << "frFR";
        QTest::newRow("Russian launcher") << int(Russian) << QString() << "ruRU";
        QTest::newRow("stored wins") << int(French) << "esES" << "esES";
    }

    void appLocaleDefaultsToLauncher()
    {
        QFETCH(int, launcher);
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        FakeHost l_Host;
        l_Host.Locale = g_LauncherLocales[launcher];
        Kestrun l_App;
        l_Host.Attach(&l_App);
        if (!stored.isNull())
            l_Host.Settings["wow_bfa.InstallLocale"] = stored;
        QCOMPARE(l_App.GetAppLocale(), expected);
        QCOMPARE(l_Host.Settings.contains("wow_bfa.InstallLocale"), !stored.isNull());
        l_Host.Detach();
    }

    void speedRingRampsOverTwentySamples()
    {
        Kestrun l_App;
        QCOMPARE(l_App.m_Status.Speed, qint64(0));
        QVERIFY(!l_App.m_SpeedTimer.isValid());
        // Slots never written count as 0: the average climbs over the first 20 samples.
        for (int l_I = 1; l_I <= 20; ++l_I)
        {
            l_App.AddSpeedSample(2000);
            QCOMPARE(l_App.m_Status.Speed, qint64(100 * l_I));
        }
        // The 21st sample overwrites the oldest one.
        l_App.AddSpeedSample(4000);
        QCOMPARE(l_App.m_SpeedSampleIndex, 1);
        QCOMPARE(l_App.m_SpeedSamples[0], qint64(4000));
        QCOMPARE(l_App.m_Status.Speed, qint64(2100));
        for (int l_I = 0; l_I < 19; ++l_I)
            l_App.AddSpeedSample(4000);
        QCOMPARE(l_App.m_Status.Speed, qint64(4000));
        l_App.AddSpeedSample(0);
        QCOMPARE(l_App.m_SpeedSampleIndex, 1);
        QCOMPARE(l_App.m_Status.Speed, qint64(3800));
    }

    void queuesAreFifo()
    {
        Kestrun l_App;
        std::vector<int> l_Ran;
        for (int l_I = 0; l_I < 5; ++l_I)
            l_App.PostMainTask([&l_Ran, l_I] { l_Ran.push_back(l_I); });
        l_App.PostWorkerTask([&l_Ran] { l_Ran.push_back(100); });
        Task l_Task;
        while (l_App.TakeMainTask(l_Task))
            l_Task();
        QCOMPARE(l_Ran, std::vector<int>({0, 1, 2, 3, 4}));
        QVERIFY(l_App.TakeWorkerTask(l_Task));
        l_Task();
        QCOMPARE(l_Ran.back(), 100);
        QVERIFY(!l_App.TakeWorkerTask(l_Task));
        QVERIFY(l_App.m_HostTasks.empty()); // the host's own queue is never touched
    }

    void queuesKeepOrderAcrossThreads_data()
    {
        QTest::addColumn<bool>("worker");
        QTest::newRow("main queue") << false;
        QTest::newRow("worker queue") << true;
    }

    void queuesKeepOrderAcrossThreads()
    {
        QFETCH(bool, worker);
        Kestrun l_App;
        const int l_Producers = 4, l_PerProducer = 2000;
        std::vector<std::vector<int>> l_Seen(l_Producers); // written by the consumer only
        std::atomic<int> l_Done{0};
        const int l_Total = l_Producers * l_PerProducer;
        auto l_Take = [&](Task& p_Task) { return worker ? l_App.TakeWorkerTask(p_Task) : l_App.TakeMainTask(p_Task); };

        // The host drains while the module keeps posting from several threads.
        std::thread l_Consumer([&] {
            QElapsedTimer l_Deadline;
            l_Deadline.start();
            Task l_Task;
            while (l_Done < l_Total && l_Deadline.elapsed() < 20000)
            {
                if (l_Take(l_Task))
                    l_Task();
                else
                    std::this_thread::yield();
            }
        });
        std::vector<std::thread> l_Threads;
        for (int l_P = 0; l_P < l_Producers; ++l_P)
            l_Threads.emplace_back([&, l_P] {
                for (int l_I = 0; l_I < l_PerProducer; ++l_I)
                {
                    Task l_Task = [&, l_P, l_I] {
                        l_Seen[size_t(l_P)].push_back(l_I);
                        ++l_Done;
                    };
                    if (worker)
                        l_App.PostWorkerTask(std::move(l_Task));
                    else
                        l_App.PostMainTask(std::move(l_Task));
                }
            });
        for (std::thread& l_Thread : l_Threads)
            l_Thread.join();
        l_Consumer.join();
        QCOMPARE(int(l_Done), l_Total);

        for (int l_P = 0; l_P < l_Producers; ++l_P)
        {
            QCOMPARE(int(l_Seen[size_t(l_P)].size()), l_PerProducer);
            for (int l_I = 0; l_I < l_PerProducer; ++l_I)
                QCOMPARE(l_Seen[size_t(l_P)][size_t(l_I)], l_I);
        }
        QVERIFY(l_App.m_MainTasks.empty() && l_App.m_WorkerTasks.empty());
    }

    void metaObjectOfApplication()
    {
        const QMetaObject& l_Meta = Application::staticMetaObject;
        QCOMPARE(QByteArray(l_Meta.className()), QByteArray("Orvane::Launcher::Application"));
        QCOMPARE(l_Meta.superClass(), &QObject::staticMetaObject);
        QCOMPARE(l_Meta.methodOffset(), QObject::staticMetaObject.methodCount());
        const QMetaMethod::MethodType l_Signal = QMetaMethod::Signal, l_Slot = QMetaMethod::Slot;
        const QMetaMethod::Access l_Public = QMetaMethod::Public, l_Private = QMetaMethod::Private;
        QStringList l_Expected = Describe({
            {l_Signal, l_Public, "OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest*)"},
            {l_Signal, l_Public, "OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest*)"},
            {l_Signal, l_Public, "OnHTTPDownloadRestarted(HTTP_DownloadFileRequest*)"},
            {l_Slot, l_Private, "AppInt_OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest*)"},
            {l_Slot, l_Private, "AppInt_OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest*)"},
            {l_Slot, l_Private, "AppInt_OnHTTPDownloadRestarted(HTTP_DownloadFileRequest*)"},
        });
        l_Expected << QString("%1 %2 HTTP_GetContent_OnReadyRead() []").arg(int(l_Slot)).arg(int(l_Private))
                   << QString("%1 %2 HTTP_GetContent_DownloadFinished() []").arg(int(l_Slot)).arg(int(l_Private))
                   << QString("%1 %2 HTTP_GetContentSize_MedaDataChanged() []").arg(int(l_Slot)).arg(int(l_Private));
        QCOMPARE(Describe(l_Meta, l_Meta.methodOffset()), l_Expected);
        QCOMPARE(l_Meta.propertyCount(), QObject::staticMetaObject.propertyCount());
    }

    void metaObjectOfStandartApplicationAndKestrun()
    {
        const QMetaObject& l_Standart = StandartApplication::staticMetaObject;
        QCOMPARE(QByteArray(l_Standart.className()), QByteArray("Orvane::Launcher::StandartApplication"));
        QCOMPARE(l_Standart.superClass(), &Application::staticMetaObject);
        const QMetaMethod::MethodType l_Slot = QMetaMethod::Slot;
        const QMetaMethod::Access l_Private = QMetaMethod::Private;
        QCOMPARE(Describe(l_Standart, l_Standart.methodOffset()),
                 Describe({
                     {l_Slot, l_Private, "App_OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest*)"},
                     {l_Slot, l_Private, "App_OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest*)"},
                     {l_Slot, l_Private, "App_OnHTTPDownloadRestarted(HTTP_DownloadFileRequest*)"},
                 }));

        const QMetaObject& l_Kestrun = Kestrun::staticMetaObject;
        QCOMPARE(QByteArray(l_Kestrun.className()), QByteArray("Orvane::Launcher::Kestrun"));
        QCOMPARE(l_Kestrun.superClass(), &l_Standart);
        QCOMPARE(l_Kestrun.methodCount(), l_Standart.methodCount()); // no signals or slots of its own
        QCOMPARE(l_Kestrun.propertyCount(), QObject::staticMetaObject.propertyCount());
        QCOMPARE(l_Kestrun.classInfoCount(), 0);
        QCOMPARE(l_Kestrun.enumeratorCount(), 0);
    }

    void downloadSignalsReachTheStandartSlots()
    {
        ProbeKestrun l_App;
        QCOMPARE(l_App.receivers(SIGNAL(OnHTTPDownloadProgressUpdate(HTTP_DownloadFileRequest*))), 1);
        QCOMPARE(l_App.receivers(SIGNAL(OnHTTPDownloadProgressComplete(HTTP_DownloadFileRequest*))), 1);
        QCOMPARE(l_App.receivers(SIGNAL(OnHTTPDownloadRestarted(HTTP_DownloadFileRequest*))), 1);
    }

    void identityAndInitialState()
    {
        Kestrun l_App;
        QCOMPARE(l_App.m_Name, QString("Battle for Azeroth"));
        QCOMPARE(l_App.m_FolderName, QString("wow_bfa"));
        QVERIFY(l_App.m_NetworkManager);
        QCOMPARE(l_App.m_NetworkManager->parent(), &l_App);
        const ApplicationStatus& l_Status = l_App.m_Status;
        QCOMPARE(l_Status.ApplicationState, 0);
        QCOMPARE(l_Status.DownloadStatus, 0);
        QCOMPARE(l_Status.Busy, false);
        QCOMPARE(l_Status.Percent, 0);
        QCOMPARE(l_Status.Done + l_Status.Total + l_Status.Speed, qint64(0));
        QVERIFY(l_Status.Message.isEmpty());
        QCOMPARE(l_App.m_HostNumber, qint64(0));
        // The constructor leaves the callback table to the host.
        QVERIFY(!l_App.ShowMessageBox && !l_App.GetLocalSetting && !l_App.IsDevChannel);
    }

    void objectLayoutForTheHost()
    {
        Kestrun l_App;
        const char* l_Base = reinterpret_cast<const char*>(static_cast<QObject*>(&l_App));
        auto l_At = [l_Base](const void* p_Member) { return qptrdiff(reinterpret_cast<const char*>(p_Member) - l_Base); };
        const qptrdiff l_Word = qptrdiff(sizeof(void*));
        QCOMPARE(static_cast<void*>(static_cast<Application*>(&l_App)), static_cast<void*>(&l_App));

        // The callback table comes first, one plain pointer each, then the host's five words.
        const void* l_Table[] = {&l_App.ShowMessageBox, &l_App.GetLocalSetting, &l_App.SetLocalSetting,
                                 &l_App.GetLocalSettingKeys, &l_App.RemoveLocalSetting, &l_App.GetLauncherLocale,
                                 &l_App.IsDownloadLocked, &l_App.LockDownload, &l_App.UnlockDownload,
                                 &l_App.IsLauncherRunning, &l_App.IsDevChannel, &l_App.m_HostWords};
        for (int l_I = 0; l_I < 12; ++l_I)
            QCOMPARE(l_At(l_Table[l_I]), qptrdiff(sizeof(QObject)) + l_I * l_Word);
        QCOMPARE(qptrdiff(sizeof(l_App.m_HostWords)), 5 * l_Word);
        QCOMPARE(l_At(&l_App.m_StateChanged), qptrdiff(sizeof(QObject)) + 16 * l_Word);

        // The other members follow in declaration order.
        const void* l_Members[] = {
            &l_App.m_StateChanged, &l_App.m_Name, &l_App.m_FolderName, &l_App.m_InstallationPath,
            &l_App.m_NetworkManager, &l_App.m_UnusedRequests, &l_App.m_UnusedRequestsMutex, &l_App.m_ContentRequests,
            &l_App.m_ContentRequestsMutex, &l_App.m_ContentSizeRequests, &l_App.m_ContentSizeRequestsMutex,
            &l_App.m_MainTasks, &l_App.m_MainTasksMutex, &l_App.m_WorkerTasks, &l_App.m_WorkerTasksMutex,
            &l_App.m_HostTasks, &l_App.m_HostTasksMutex, &l_App.m_HostNumber, &l_App.m_HostMutex, &l_App.m_Status,
            &l_App.m_Status.ApplicationState, &l_App.m_Status.DownloadStatus, &l_App.m_Status.Busy,
            &l_App.m_Status.Percent, &l_App.m_Status.Done, &l_App.m_Status.Total, &l_App.m_Status.Speed,
            &l_App.m_Status.Detail, &l_App.m_Status.DetailValue, &l_App.m_Status.DetailVisible,
            &l_App.m_Status.Message, &l_App.m_SpeedSamples, &l_App.m_SpeedSampleIndex, &l_App.m_SpeedTimer};
        for (size_t l_I = 1; l_I < sizeof(l_Members) / sizeof(l_Members[0]); ++l_I)
            QVERIFY2(l_At(l_Members[l_I]) >= l_At(l_Members[l_I - 1]) + (l_I == 20 ? 0 : 1), qPrintable(QString::number(l_I)));
        QCOMPARE(int(sizeof(l_App.m_SpeedSamples) / sizeof(l_App.m_SpeedSamples[0])), 20);
    }

    void virtualOperationsInSlotOrder()
    {
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
        // The launcher calls the operations through the table slots that follow QObject's own.
        const long l_First = LastQObjectVirtual::Slot() + 1;
        const long l_Slots[] = {
            VirtualSlot(&Application::Init),
            VirtualSlot(&Application::Uninit),
            VirtualSlot(&Application::GetRessource),
            VirtualSlot(&Application::IsGameRunning),
            VirtualSlot(&Application::Install),
            VirtualSlot(&Application::Start),
            VirtualSlot(&Application::Repair),
            VirtualSlot(&Application::RebuildManifests),
            VirtualSlot(&Application::Uninstall),
            VirtualSlot(&Application::StopDownload),
            VirtualSlot(&Application::ResumeDownload),
            VirtualSlot(&Application::GetAvailableLocales),
            VirtualSlot(&Application::GetAppLocale),
            VirtualSlot(&Application::SetAppLocale),
            VirtualSlot(&Application::IsCASCApp),
            VirtualSlot(&Application::EnableCASC),
            VirtualSlot(&Application::GetCustomIconAnimation),
            VirtualSlot(&Application::GetCustomIconAnimationFramerate),
            VirtualSlot(&StandartApplication::OnInstall),
            VirtualSlot(&StandartApplication::AfterOnManifestReceived),
        };
        for (int l_I = 0; l_I < 20; ++l_I)
            QCOMPARE(l_Slots[l_I], l_First + l_I);
        // Kestrun overrides without adding slots before them.
        QCOMPARE(VirtualSlot(&Kestrun::GetRessource), l_First + 2);
        QCOMPARE(VirtualSlot(&Kestrun::AfterOnManifestReceived), l_First + 19);
#else
        QSKIP("virtual table layout is checked on the Itanium ABI only");
#endif
    }
};

QTEST_GUILESS_MAIN(tst_interface)
#include "tst_interface.moc"
