// The plugin as the launcher sees it: metadata, entry points, single object, embedded images.
#include "app/Kestrun.h"
#include "net/Deployment.h"
#include "support/TestBuild.h"

#include <QCborArray>
#include <QCborMap>
#include <QFile>
#include <QLibrary>
#include <QPluginLoader>
#include <QPointer>
#include <QtEndian>
#include <QtTest>

using namespace Orvane::Launcher;

namespace {
/// Encoded independently of the plugin: magic, format 0, Qt 5.12, release, then an indefinite CBOR map.
QByteArray ExpectedMetadata()
{
    const QCborMap l_Data{{"dependencies", QCborArray()}, {"name", "Kestrun"}, {"version", "0.0.1"}};
    QByteArray l_Block = QByteArray("QTMETADATA !") + QByteArray("\x00\x05\x0c\x00\xbf", 5);
    for (QCborValue l_Item : {QCborValue(2), QCborValue("Orvane.Application"), QCborValue(3),
                              QCborValue("Kestrun"), QCborValue(4), QCborValue(l_Data)})
        l_Block += l_Item.toCbor();
    return l_Block + '\xff';
}

/// Width and height from a PNG's IHDR chunk; {-1, -1} if it does not start like a PNG.
QSize PngSize(const QByteArray& p_Png)
{
    if (!p_Png.startsWith("\x89PNG\r\n\x1a\n") || p_Png.mid(12, 4) != "IHDR" || p_Png.size() < 24)
        return QSize(-1, -1);
    return QSize(qFromBigEndian<qint32>(p_Png.constData() + 16), qFromBigEndian<qint32>(p_Png.constData() + 20));
}

/// Really unloaded after each test (QPluginLoader pins a library by default).
struct LoadedPlugin
{
    QPluginLoader Loader{KESTRUN_PLUGIN_PATH};
    LoadedPlugin() { Loader.setLoadHints(QLibrary::LoadHints()); }
    ~LoadedPlugin() { Loader.unload(); }
};

const char* const g_Images[] = {":/BG-Launcher_BFA.png", ":/Launcher_icon_BFA_off.png", ":/Launcher_icon_BFA_on.png"};
} // namespace

class tst_plugin : public QObject
{
    Q_OBJECT

private slots:
    void metadata()
    {
        QLibrary l_Library(KESTRUN_PLUGIN_PATH);
        auto l_Query = reinterpret_cast<const char* (*)()>(l_Library.resolve("qt_plugin_query_metadata"));
        QVERIFY2(l_Query, qPrintable(l_Library.errorString()));
        const QByteArray l_Expected = ExpectedMetadata();
        QCOMPARE(QByteArray(l_Query(), l_Expected.size()).toHex(), l_Expected.toHex());
        // The module's own code stays private, so two modules never clash in one launcher.
        QVERIFY(l_Library.resolve("qt_plugin_instance"));
        QVERIFY(!l_Library.resolve("_ZN6Orvane8Launcher11Application11IsInstalledEv"));
        l_Library.unload();
    }

    void singleInstanceAndItsAnswers()
    {
        LoadedPlugin l_Plugin;
        QPointer<QObject> l_First = l_Plugin.Loader.instance();
        QVERIFY2(l_First, qPrintable(l_Plugin.Loader.errorString()));
        QLibrary l_Library(KESTRUN_PLUGIN_PATH);
        auto l_Instance = reinterpret_cast<QObject* (*)()>(l_Library.resolve("qt_plugin_instance"));
        QVERIFY(l_Instance && l_Instance() == l_First.data());

        // The host owns the object; once it deletes it, the next call builds a new one.
        delete l_First.data();
        QObject* l_Second = l_Instance();
        QVERIFY(l_Second && !l_First && l_Plugin.Loader.instance() == l_Second);
        QCOMPARE(l_Second->qt_metacast("Orvane.Application"), static_cast<void*>(l_Second));
        QVERIFY(!l_Second->qt_metacast("Kestrun"));

        // Null tells the host to use its own default; empty would be drawn as nothing.
        const QString l_Null;
        const QString l_Expected[] = {l_Null, g_Images[0], "#09111C", "top right", g_Images[1], g_Images[2], "22", "17",
            l_Null, "http://" + Deployment::NewsImageHost() + "/assets/img/placeholders/news_dev_legion.png", l_Null};
        auto l_App = static_cast<Application*>(l_Second->qt_metacast("Orvane.Application"));
        for (int l_Kind = -1; l_Kind <= 9; ++l_Kind)
        {
            const QString l_Got = l_App->GetRessource(ApplicationRessource::Type(l_Kind));
            QVERIFY2(l_Got.isNull() == l_Expected[l_Kind + 1].isNull(), qPrintable(QString::number(l_Kind)));
            QCOMPARE(l_Got, l_Expected[l_Kind + 1]);
        }
        delete l_Second;
        l_Library.unload();
    }

    void imagesRegisteredWhileLoaded()
    {
        QVERIFY(!QFile::exists(g_Images[0])); // only the plugin carries them
        LoadedPlugin l_Plugin;
        QVERIFY2(l_Plugin.Loader.load(), qPrintable(l_Plugin.Loader.errorString()));
        const QSize l_Sizes[] = {QSize(1920, 1080), QSize(72, 75), QSize(72, 75)};
        for (int l_I = 0; l_I < 3; ++l_I)
            QCOMPARE(PngSize(ReadFile(g_Images[l_I])), l_Sizes[l_I]);
        // Unloading deletes the object and closes the library: the images go with it.
        QVERIFY(l_Plugin.Loader.instance() && l_Plugin.Loader.unload());
        for (const char* l_Path : g_Images)
            QVERIFY2(!QFile::exists(l_Path), l_Path);
        QVERIFY(l_Plugin.Loader.load() && QFile::exists(g_Images[0]));
    }
};

QTEST_MAIN(tst_plugin)
#include "tst_plugin.moc"
