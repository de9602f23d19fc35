// The plugin as the launcher sees it: the built file, its metadata, its entry
// points, its single object and its embedded images.
#include "app/Kestrun.h"
#include "launcher/Deployment.h"

#include <QCborStreamWriter>
#include <QFile>
#include <QLibrary>
#include <QPluginLoader>
#include <QPointer>
#include <QResource>
#include <QtEndian>
#include <QtTest>

#include <zlib.h>

using namespace Orvane::Launcher;

namespace {
using QueryMetadata = const char* (*)();
using PluginInstance = QObject* (*)();

// The block the launcher reads, encoded here independently of the plugin.
QByteArray ExpectedMetadata()
{
    QByteArray l_Cbor;
    QCborStreamWriter l_Writer(&l_Cbor);
    l_Writer.startMap();
    l_Writer.append(2);
    l_Writer.append(QLatin1String("Orvane.Application"));
    l_Writer.append(3);
    l_Writer.append(QLatin1String("Kestrun"));
    l_Writer.append(4);
    l_Writer.startMap(3);
    l_Writer.append(QLatin1String("dependencies"));
    l_Writer.startArray(0);
    l_Writer.endArray();
    l_Writer.append(QLatin1String("name"));
    l_Writer.append(QLatin1String("Kestrun"));
    l_Writer.append(QLatin1String("version"));
    l_Writer.append(QLatin1String("0.0.1"));
    l_Writer.endMap();
    l_Writer.endMap();
    return QByteArray("QTMETADATA !") + QByteArray("\x00\x05\x0c\x00", 4) + l_Cbor;
}

/// Contents of the named section of an ELF64 little-endian file; null when absent.
QByteArray ElfSection(const QByteArray& p_File, const QByteArray& p_Name)
{
    auto l_U16 = [&](qint64 p_At) { return p_At + 2 <= p_File.size() ? qFromLittleEndian<quint16>(p_File.constData() + p_At) : 0; };
    auto l_U32 = [&](qint64 p_At) { return p_At + 4 <= p_File.size() ? qFromLittleEndian<quint32>(p_File.constData() + p_At) : 0; };
    auto l_U64 = [&](qint64 p_At) { return p_At + 8 <= p_File.size() ? qFromLittleEndian<quint64>(p_File.constData() + p_At) : 0; };
    if (!p_File.startsWith("\x7f" "ELF") || p_File.size() < 64 || p_File.at(4) != 2 || p_File.at(5) != 1)
        return QByteArray();
    const qint64 l_Table = qint64(l_U64(0x28));
    const int l_EntrySize = l_U16(0x3a), l_Count = l_U16(0x3c), l_Names = l_U16(0x3e);
    auto l_Header = [&](int p_Index) { return l_Table + qint64(p_Index) * l_EntrySize; };
    const qint64 l_NamesAt = qint64(l_U64(l_Header(l_Names) + 0x18));
    for (int l_I = 0; l_I < l_Count; ++l_I)
    {
        const qint64 l_NameAt = l_NamesAt + l_U32(l_Header(l_I));
        if (l_NameAt >= p_File.size())
            continue;
        if (QByteArray(p_File.constData() + l_NameAt) != p_Name)
            continue;
        const qint64 l_Offset = qint64(l_U64(l_Header(l_I) + 0x18)), l_Size = qint64(l_U64(l_Header(l_I) + 0x20));
        if (l_Offset < 0 || l_Size < 0 || l_Offset + l_Size > p_File.size())
            return QByteArray();
        return p_File.mid(int(l_Offset), int(l_Size));
    }
    return QByteArray();
}

/// Width and height of a well-formed PNG (every chunk CRC checked, pixels inflate to the
/// size the header announces); {-1, -1} otherwise.
QSize CheckedPngSize(const QByteArray& p_Png)
{
    const QSize l_Bad(-1, -1);
    if (!p_Png.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)))
        return l_Bad;
    QSize l_Size = l_Bad;
    int l_Channels = 0;
    QByteArray l_Deflated;
    bool l_End = false;
    for (int l_At = 8; l_At + 12 <= p_Png.size() && !l_End;)
    {
        const quint32 l_Length = qFromBigEndian<quint32>(p_Png.constData() + l_At);
        if (l_Length > quint32(p_Png.size() - l_At - 12))
            return l_Bad;
        const QByteArray l_Type = p_Png.mid(l_At + 4, 4);
        const QByteArray l_Data = p_Png.mid(l_At + 8, int(l_Length));
        const quint32 l_Crc = qFromBigEndian<quint32>(p_Png.constData() + l_At + 8 + l_Length);
        if (crc32(crc32(0, reinterpret_cast<const Bytef*>(l_Type.constData()), 4),
                  reinterpret_cast<const Bytef*>(l_Data.constData()), uInt(l_Data.size())) != l_Crc)
            return l_Bad;
        if (l_Type == "IHDR" && l_Data.size() == 13)
        {
            l_Size = QSize(int(qFromBigEndian<quint32>(l_Data.constData())), int(qFromBigEndian<quint32>(l_Data.constData() + 4)));
            l_Channels = l_Data.at(9) == 6 ? 4 : l_Data.at(9) == 2 ? 3 : 0;
            if (l_Data.at(8) != 8 || l_Channels == 0)
                return l_Bad;
        }
        else if (l_Type == "IDAT")
            l_Deflated += l_Data;
        else if (l_Type == "IEND")
            l_End = true;
        l_At += 12 + int(l_Length);
    }
    if (!l_End || l_Size == l_Bad)
        return l_Bad;
    uLongf l_Expected = uLongf(l_Size.height()) * (uLongf(l_Size.width()) * uLongf(l_Channels) + 1);
    QByteArray l_Raw(int(l_Expected) + 1, '\0');
    uLongf l_RawSize = uLongf(l_Raw.size());
    if (uncompress(reinterpret_cast<Bytef*>(l_Raw.data()), &l_RawSize, reinterpret_cast<const Bytef*>(l_Deflated.constData()),
                   uLong(l_Deflated.size())) != Z_OK || l_RawSize != l_Expected)
        return l_Bad;
    return l_Size;
}

/// The object as the launcher takes it: through the interface id, not through a C++ cast.
Application* AsApplication(QObject* p_Object)
{
    return p_Object ? static_cast<Application*>(p_Object->qt_metacast("Orvane.Application")) : nullptr;
}

/// The plugin loaded for one test and closed again after it, so that every test starts from an unloaded module.
/// QPluginLoader pins a library by default (it is never really closed); the tests ask for a real unload.
struct LoadedPlugin
{
    QPluginLoader Loader{KESTRUN_PLUGIN_PATH};
    LoadedPlugin() { Loader.setLoadHints(QLibrary::LoadHints()); }
    ~LoadedPlugin() { Loader.unload(); }
    Application* App() { return AsApplication(Loader.instance()); }
};

const char* const g_Images[] = {":/BG-Launcher_BFA.png", ":/Launcher_icon_BFA_off.png", ":/Launcher_icon_BFA_on.png"};
} // namespace

class tst_plugin : public QObject
{
    Q_OBJECT

private slots:
    void metadataFromEntryPoint()
    {
        QLibrary l_Library(KESTRUN_PLUGIN_PATH);
        auto l_Query = reinterpret_cast<QueryMetadata>(l_Library.resolve("qt_plugin_query_metadata"));
        QVERIFY2(l_Query, qPrintable(l_Library.errorString()));
        const QByteArray l_Expected = ExpectedMetadata();
        QCOMPARE(QByteArray(l_Query(), l_Expected.size()).toHex(), l_Expected.toHex());
        QCOMPARE(quint8(l_Expected.back()), quint8(0xFF)); // indefinite map, closed by a break
        l_Library.unload();
    }

    void metadataSectionInFile()
    {
        QFile l_File(KESTRUN_PLUGIN_PATH);
        QVERIFY(l_File.open(QIODevice::ReadOnly));
        const QByteArray l_Bytes = l_File.readAll();
        if (!l_Bytes.startsWith("\x7f" "ELF"))
            QSKIP("the plugin is not an ELF file");
        // The loader reads the block from this section without running any of the plugin's code.
        const QByteArray l_Section = ElfSection(l_Bytes, ".qtmetadata");
        const QByteArray l_Expected = ExpectedMetadata();
        QVERIFY2(l_Section.startsWith(l_Expected), qPrintable(l_Section.left(64).toHex()));
        QVERIFY(l_Section.count("QTMETADATA !") == 1);
    }

    void metadataFromLoader()
    {
        QPluginLoader l_Loader(KESTRUN_PLUGIN_PATH);
        QJsonObject l_Meta = l_Loader.metaData();
        QCOMPARE(l_Meta.value("IID").toString(), QString("Orvane.Application"));
        QCOMPARE(l_Meta.value("className").toString(), QString("Kestrun"));
        QCOMPARE(l_Meta.value("version").toInt(), 0x050C00); // built for the launcher's Qt 5.12
        QCOMPARE(l_Meta.value("debug").toBool(), false);
        QJsonObject l_Data = l_Meta.value("MetaData").toObject();
        QCOMPARE(l_Data.keys(), QStringList({"dependencies", "name", "version"}));
        QCOMPARE(l_Data.value("name").toString(), QString("Kestrun"));
        QCOMPARE(l_Data.value("version").toString(), QString("0.0.1"));
        QVERIFY(l_Data.value("dependencies").isArray());
        QVERIFY(l_Data.value("dependencies").toArray().isEmpty());
        // Reading the metadata does not load the library.
        QVERIFY(!l_Loader.isLoaded());
    }

    void onlyEntryPointsExported()
    {
        QLibrary l_Library(KESTRUN_PLUGIN_PATH);
        QVERIFY(l_Library.resolve("qt_plugin_instance"));
        QVERIFY(l_Library.resolve("qt_plugin_query_metadata"));
        // The module's own code stays private to it, so two modules never clash in one launcher.
        QVERIFY(!l_Library.resolve("_ZN6Orvane8Launcher11Application11IsInstalledEv"));
        l_Library.unload();
    }

    void singleInstance()
    {
        LoadedPlugin l_Plugin;
        QPluginLoader& l_Loader = l_Plugin.Loader;
        QPointer<QObject> l_First = l_Loader.instance();
        QVERIFY2(l_First, qPrintable(l_Loader.errorString()));
        QLibrary l_Library(KESTRUN_PLUGIN_PATH);
        auto l_Instance = reinterpret_cast<PluginInstance>(l_Library.resolve("qt_plugin_instance"));
        QVERIFY(l_Instance);
        QCOMPARE(l_Instance(), l_First.data());
        QCOMPARE(l_Instance(), l_First.data());
        QCOMPARE(l_Loader.instance(), l_First.data());

        // The host owns the object; once it deletes it, the next call builds a new one.
        l_First->setProperty("kestrun_test_mark", true);
        delete l_First.data();
        QVERIFY(l_First.isNull());
        QObject* l_Second = l_Instance();
        QVERIFY(l_Second);
        QVERIFY(!l_Second->property("kestrun_test_mark").isValid());
        QCOMPARE(l_Instance(), l_Second);
        QCOMPARE(l_Loader.instance(), l_Second);
        QCOMPARE(AsApplication(l_Second)->m_Name, QString("Battle for Azeroth"));
        QCOMPARE(AsApplication(l_Second)->m_FolderName, QString("wow_bfa"));
        delete l_Second;
        l_Library.unload();
    }

    void metacast_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("answers");
        QTest::newRow("interface id") << QByteArray("Orvane.Application") << true;
        QTest::newRow("Kestrun") << QByteArray("Orvane::Launcher::Kestrun") << true;
        QTest::newRow("StandartApplication") << QByteArray("Orvane::Launcher::StandartApplication") << true;
        QTest::newRow("Application") << QByteArray("Orvane::Launcher::Application") << true;
        QTest::newRow("QObject") << QByteArray("QObject") << true;
        QTest::newRow("unqualified") << QByteArray("Kestrun") << false;
        QTest::newRow("other id") << QByteArray("Orvane.Application2") << false;
        QTest::newRow("empty") << QByteArray("") << false;
    }

    void metacast()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, answers);
        LoadedPlugin l_Plugin;
        QObject* l_Object = l_Plugin.Loader.instance();
        QVERIFY2(l_Object, qPrintable(l_Plugin.Loader.errorString()));
        QCOMPARE(QByteArray(l_Object->metaObject()->className()), QByteArray("Orvane::Launcher::Kestrun"));
        void* l_Answer = l_Object->qt_metacast(name.constData());
        QCOMPARE(l_Answer, answers ? static_cast<void*>(l_Object) : nullptr);
    }

    void ressources_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("answer"); // a null QString here means a null answer
        QTest::newRow("0 background") << 0 << QString(":/BG-Launcher_BFA.png");
        QTest::newRow("1 background colour") << 1 << QString("#09111C");
        QTest::newRow("2 background position") << 2 << QString("top right");
        QTest::newRow("3 icon") << 3 << QString(":/Launcher_icon_BFA_off.png");
        QTest::newRow("4 active icon") << 4 << QString(":/Launcher_icon_BFA_on.png");
        QTest::newRow("5 news sub-categories") << 5 << QString("22");
        QTest::newRow("6 slider") << 6 << QString("17");
        QTest::newRow("7 not provided") << 7 << QString();
        QTest::newRow("8 news image") << 8
            << QString("http://" + Deployment::NewsImageHost() + "/assets/img/placeholders/news_dev_legion.png");
        QTest::newRow("9 unknown") << 9 << QString();
        QTest::newRow("1000 unknown") << 1000 << QString();
        QTest::newRow("-1 unknown") << -1 << QString();
    }

    void ressources()
    {
        QFETCH(int, kind);
        QFETCH(QString, answer);
        LoadedPlugin l_Plugin;
        Application* l_App = l_Plugin.App();
        QVERIFY(l_App);
        const QString l_Got = l_App->GetRessource(ApplicationRessource::Type(kind));
        // Null tells the host to use its own default; empty would be drawn as nothing.
        QCOMPARE(l_Got.isNull(), answer.isNull());
        QCOMPARE(l_Got, answer);
    }

    void gameAnswers()
    {
        LoadedPlugin l_Plugin;
        Application* l_App = l_Plugin.App();
        QVERIFY(l_App);
        QVERIFY(l_App->GetCustomIconAnimation().empty());
        QCOMPARE(l_App->GetCustomIconAnimationFramerate(), 0);
        QCOMPARE(l_App->IsCASCApp(), false);
        l_App->EnableCASC();
        QCOMPARE(l_App->IsCASCApp(), false);
        QVERIFY(!l_App->m_NetworkManager || l_App->m_NetworkManager->parent() == l_App);
        QCOMPARE(l_App->m_Status.ApplicationState, 0);
        QVERIFY(l_App->m_Status.Message.isEmpty());
    }

    void imagesRegisteredWhileLoaded()
    {
        for (const char* l_Path : g_Images)
            QVERIFY2(!QFile::exists(l_Path), l_Path); // only the plugin carries them
        LoadedPlugin l_Plugin;
        QPluginLoader& l_Loader = l_Plugin.Loader;
        QVERIFY2(l_Loader.load(), qPrintable(l_Loader.errorString()));

        const QSize l_Sizes[] = {QSize(1920, 1080), QSize(72, 75), QSize(72, 75)};
        QByteArray l_Icons[2];
        for (int l_I = 0; l_I < 3; ++l_I)
        {
            QFile l_File(g_Images[l_I]);
            QVERIFY2(l_File.open(QIODevice::ReadOnly), g_Images[l_I]);
            const QByteArray l_Png = l_File.readAll();
            QCOMPARE(CheckedPngSize(l_Png), l_Sizes[l_I]);
            if (l_I > 0)
                l_Icons[l_I - 1] = l_Png;
            // Stored as they are, so the host can map them without inflating.
            QResource l_Resource(g_Images[l_I]);
            QVERIFY(l_Resource.isValid());
#if QT_VERSION >= QT_VERSION_CHECK(5, 13, 0)
            QCOMPARE(l_Resource.compressionAlgorithm(), QResource::NoCompression);
#else
            QVERIFY(!l_Resource.isCompressed());
#endif
            QCOMPARE(l_Resource.size(), qint64(l_Png.size()));
        }
        QVERIFY(l_Icons[0] != l_Icons[1]); // the highlighted icon differs from the plain one
        QCOMPARE(QDir(":/").entryList().size(), 3);

        // The loader deletes the object and closes the library: the images go with it.
        QVERIFY(l_Loader.instance());
        QVERIFY(l_Loader.unload());
        QVERIFY(!l_Loader.isLoaded());
        for (const char* l_Path : g_Images)
            QVERIFY2(!QFile::exists(l_Path), l_Path);

        // Loading again registers them again.
        QVERIFY(l_Loader.load());
        QVERIFY(QFile::exists(g_Images[0]));
        QVERIFY(l_Loader.unload());
        QVERIFY(!QFile::exists(g_Images[0]));
    }
};

QTEST_MAIN(tst_plugin)
#include "tst_plugin.moc"
