// The plugin as the launcher sees it: the built file, its metadata, its entry
// points, its single object and its embedded images.
#include "app/Kestrun.h"
#include "launcher/Deployment.h"

#include <QCborArray>
#include <QCborMap>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibrary>
#include <QPluginLoader>
#include <QPointer>
#include <QResource>
#include <QtEndian>
#include <QtTest>

#include <zlib.h>

using namespace Orvane::Launcher;

namespace {
/// The block the launcher reads, encoded here independently of the plugin: magic, format 0,
/// Qt 5.12, release build, then a CBOR map of indefinite length (closed by a break).
QByteArray ExpectedMetadata()
{
    const QCborMap l_Data{{"dependencies", QCborArray()}, {"name", "Kestrun"}, {"version", "0.0.1"}};
    QByteArray l_Block = QByteArray("QTMETADATA !") + QByteArray("\x00\x05\x0c\x00\xbf", 5);
    for (QCborValue l_Item : {QCborValue(2), QCborValue("Orvane.Application"), QCborValue(3),
                              QCborValue("Kestrun"), QCborValue(4), QCborValue(l_Data)})
        l_Block += l_Item.toCbor();
    return l_Block + '\xff';
}

/// Width and height of a well-formed 8-bit RGB(A) PNG: every chunk's CRC holds and the
/// pixels inflate to exactly the announced size; {-1, -1} otherwise.
QSize CheckedPngSize(const QByteArray& p_Png)
{
    QByteArray l_Header, l_Deflated;
    for (int l_At = 8; p_Png.startsWith("\x89PNG\r\n\x1a\n") && l_At + 12 <= p_Png.size();)
    {
        const qint64 l_Length = qFromBigEndian<quint32>(p_Png.constData() + l_At);
        if (l_At + 12 + l_Length > p_Png.size())
            break;
        const QByteArray l_Chunk = p_Png.mid(l_At + 4, int(l_Length) + 4); // type and data
        if (crc32(0, reinterpret_cast<const Bytef*>(l_Chunk.constData()), uInt(l_Chunk.size())) !=
            qFromBigEndian<quint32>(p_Png.constData() + l_At + 8 + l_Length))
            break;
        l_At += 12 + int(l_Length);
        l_Header += l_Chunk.startsWith("IHDR") ? l_Chunk.mid(4) : QByteArray();
        l_Deflated += l_Chunk.startsWith("IDAT") ? l_Chunk.mid(4) : QByteArray();
        if (!l_Chunk.startsWith("IEND"))
            continue;
        if (l_Header.size() != 13 || l_Header.at(8) != 8 || (l_Header.at(9) != 2 && l_Header.at(9) != 6))
            break;
        const QSize l_Size(qFromBigEndian<qint32>(l_Header.constData()),
                           qFromBigEndian<qint32>(l_Header.constData() + 4));
        const int l_Channels = l_Header.at(9) == 6 ? 4 : 3;
        const uLongf l_Expected = uLongf(l_Size.height()) * (uLongf(l_Size.width()) * uLongf(l_Channels) + 1);
        QByteArray l_Raw(int(l_Expected) + 1, '\0');
        uLongf l_Got = uLongf(l_Raw.size());
        if (uncompress(reinterpret_cast<Bytef*>(l_Raw.data()), &l_Got,
                       reinterpret_cast<const Bytef*>(l_Deflated.constData()), uLong(l_Deflated.size())) == Z_OK &&
            l_Got == l_Expected)
            return l_Size;
        break;
    }
    return QSize(-1, -1);
}

/// The object as the launcher takes it: through the interface id, not through a C++ cast.
Application* AsApplication(QObject* p_Object)
{
    return p_Object ? static_cast<Application*>(p_Object->qt_metacast("Orvane.Application")) : nullptr;
}

/// The plugin loaded for one test and really unloaded after it (QPluginLoader pins a
/// library by default), so that every test starts from an unloaded module.
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
        // The entry point hands out the exact bytes.
        QLibrary l_Library(KESTRUN_PLUGIN_PATH);
        auto l_Query = reinterpret_cast<const char* (*)()>(l_Library.resolve("qt_plugin_query_metadata"));
        QVERIFY2(l_Query, qPrintable(l_Library.errorString()));
        const QByteArray l_Expected = ExpectedMetadata();
        QCOMPARE(QByteArray(l_Query(), l_Expected.size()).toHex(), l_Expected.toHex());
        // The module's own code stays private to it, so two modules never clash in one launcher.
        QVERIFY(l_Library.resolve("qt_plugin_instance"));
        QVERIFY(!l_Library.resolve("_ZN6Orvane8Launcher11Application11IsInstalledEv"));
        l_Library.unload();

        // The loader reads the block from the file without running any of its code; on ELF it
        // looks only in the ".qtmetadata" section, so this also checks the section's name.
        QPluginLoader l_Loader(KESTRUN_PLUGIN_PATH);
        const QJsonObject l_Meta = l_Loader.metaData();
        QCOMPARE(l_Meta.value("IID").toString(), QString("Orvane.Application"));
        QCOMPARE(l_Meta.value("className").toString(), QString("Kestrun"));
        QCOMPARE(l_Meta.value("version").toInt(), 0x050C00);
        QCOMPARE(l_Meta.value("debug").toBool(true), false);
        QCOMPARE(l_Meta.value("MetaData").toObject(),
                 QJsonObject({{"dependencies", QJsonArray()}, {"name", "Kestrun"}, {"version", "0.0.1"}}));
        QVERIFY(!l_Loader.isLoaded());
    }

    void singleInstanceAndItsAnswers()
    {
        LoadedPlugin l_Plugin;
        QPointer<QObject> l_First = l_Plugin.Loader.instance();
        QVERIFY2(l_First, qPrintable(l_Plugin.Loader.errorString()));
        QLibrary l_Library(KESTRUN_PLUGIN_PATH);
        auto l_Instance = reinterpret_cast<QObject* (*)()>(l_Library.resolve("qt_plugin_instance"));
        QVERIFY(l_Instance);
        QCOMPARE(l_Instance(), l_First.data());

        // The host owns the object; once it deletes it, the next call builds a new one.
        l_First->setProperty("kestrun_test_mark", true);
        delete l_First.data();
        QObject* l_Second = l_Instance();
        QVERIFY(l_Second && !l_Second->property("kestrun_test_mark").isValid());
        QCOMPARE(l_Instance(), l_Second);
        QCOMPARE(l_Plugin.Loader.instance(), l_Second);
        // The launcher asks for the interface id; names it does not know get no answer.
        for (const char* l_Name : {"Orvane.Application", "Orvane::Launcher::Application"})
            QCOMPARE(l_Second->qt_metacast(l_Name), static_cast<void*>(l_Second));
        for (const char* l_Name : {"Kestrun", "Orvane.Application2"})
            QVERIFY2(!l_Second->qt_metacast(l_Name), l_Name);

        // Resources by kind (-1 to 9); null tells the host to use its own default, empty would be drawn as nothing.
        const QString l_Null;
        const QString l_Expected[] = {l_Null, g_Images[0], "#09111C", "top right", g_Images[1], g_Images[2], "22", "17",
            l_Null, "http://" + Deployment::NewsImageHost() + "/assets/img/placeholders/news_dev_legion.png", l_Null};
        Application* l_App = AsApplication(l_Second);
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
        for (const char* l_Path : g_Images)
            QVERIFY2(!QFile::exists(l_Path), l_Path); // only the plugin carries them
        LoadedPlugin l_Plugin;
        QPluginLoader& l_Loader = l_Plugin.Loader;
        QVERIFY2(l_Loader.load(), qPrintable(l_Loader.errorString()));

        const QSize l_Sizes[] = {QSize(1920, 1080), QSize(72, 75), QSize(72, 75)};
        QByteArray l_Pngs[3];
        for (int l_I = 0; l_I < 3; ++l_I)
        {
            QFile l_File(g_Images[l_I]);
            QVERIFY2(l_File.open(QIODevice::ReadOnly), g_Images[l_I]);
            l_Pngs[l_I] = l_File.readAll();
            QCOMPARE(CheckedPngSize(l_Pngs[l_I]), l_Sizes[l_I]);
            // Stored as they are (the stored size is the file's), so the host can map them without inflating.
            QCOMPARE(QResource(g_Images[l_I]).size(), qint64(l_Pngs[l_I].size()));
        }
        QVERIFY(l_Pngs[1] != l_Pngs[2]); // the highlighted icon differs from the plain one

        // The loader deletes the object and closes the library: the images go with it,
        // and come back with the next load.
        QVERIFY(l_Loader.instance());
        QVERIFY(l_Loader.unload());
        for (const char* l_Path : g_Images)
            QVERIFY2(!QFile::exists(l_Path), l_Path);
        QVERIFY(l_Loader.load());
        QVERIFY(QFile::exists(g_Images[0]));
        QVERIFY(l_Loader.unload());
        QVERIFY(!QFile::exists(g_Images[0]));
    }
};

QTEST_MAIN(tst_plugin)
#include "tst_plugin.moc"
