#include "app/Kestrun.h"

#include <QPluginLoader>
#include <QtTest>

using namespace Orvane::Launcher;

class tst_plugin : public QObject
{
    Q_OBJECT
private slots:
    void metadataFromLoader()
    {
        QPluginLoader l_Loader(KESTRUN_PLUGIN_PATH);
        QJsonObject l_Meta = l_Loader.metaData();
        QCOMPARE(l_Meta.value("IID").toString(), QString("Orvane.Application"));
        QCOMPARE(l_Meta.value("className").toString(), QString("Kestrun"));
        QJsonObject l_Data = l_Meta.value("MetaData").toObject();
        QCOMPARE(l_Data.value("name").toString(), QString("Kestrun"));
        QCOMPARE(l_Data.value("version").toString(), QString("0.0.1"));
        QVERIFY(l_Data.value("dependencies").isArray());
        QObject* l_Object = l_Loader.instance();
        QVERIFY2(l_Object, qPrintable(l_Loader.errorString()));
        QVERIFY(l_Object->qt_metacast("Orvane.Application") == l_Object);
    }
};

QTEST_MAIN(tst_plugin)
#include "tst_plugin.moc"
