// Small documents fetched into memory and the size asked of each file before a
// download: what the callbacks receive, whatever the server does.
#include "launcher/Application.h"
#include "support/FakeHost.h"
#include "support/TestHttpServer.h"

#include <QtTest>

#include <algorithm>
#include <memory>

using namespace Orvane::Launcher;

namespace {

class TestApp : public Application
{
public:
    TestApp() : Application("Test", "test") {}
    void Init() override {}
    void Uninit() override {}
    QString const GetRessource(ApplicationRessource::Type) override { return QString(); }
    std::vector<std::pair<QString, QString>> GetAvailableLocales() override { return {}; }
    QString GetAppLocale() override { return QString(); }
    void SetAppLocale(QString) override {}
};

QByteArray Pattern(int p_Size, int p_Seed)
{
    QByteArray l_Bytes(p_Size, '\0');
    quint32 l_State = quint32(p_Seed) * 2654435761u + 1;
    for (int l_Index = 0; l_Index < p_Size; ++l_Index)
    {
        l_State = l_State * 1664525u + 1013904223u;
        l_Bytes[l_Index] = char(l_State >> 24);
    }
    return l_Bytes;
}

/// What one content request's callbacks received, in order.
struct ContentResult
{
    QStringList Events; // "error <code>" and "done"
    QString Url;
    QByteArray Data;
    bool Done() const { return Events.contains("done"); }
};

class ScopedEnv
{
public:
    ScopedEnv(const char* p_Name, const QByteArray& p_Value) : m_Name(p_Name), m_Old(qgetenv(p_Name))
    {
        qputenv(p_Name, p_Value);
    }
    ~ScopedEnv()
    {
        if (m_Old.isEmpty())
            qunsetenv(m_Name);
        else
            qputenv(m_Name, m_Old);
    }

private:
    const char* m_Name;
    QByteArray m_Old;
};

} // namespace

Q_DECLARE_METATYPE(TestHttpServer::Fault)

class tst_ContentRequests : public QObject
{
    Q_OBJECT

    FakeHost m_Host;
    std::unique_ptr<TestApp> m_App;
    TestHttpServer m_Server;

    std::shared_ptr<ContentResult> Get(const QString& p_Url)
    {
        auto l_Result = std::make_shared<ContentResult>();
        m_App->HTTP_GetContent(
            p_Url,
            [l_Result](QString p_Url, QByteArray* p_Data) {
                l_Result->Events << "done";
                l_Result->Url = p_Url;
                l_Result->Data = *p_Data;
            },
            [l_Result](QNetworkReply::NetworkError p_Error) {
                l_Result->Events << QString("error %1").arg(int(p_Error));
            });
        return l_Result;
    }

private slots:
    void initTestCase() { QVERIFY(m_Server.Start()); }

    void init()
    {
        m_App.reset(new TestApp());
        m_Host.Attach(m_App.get());
        m_Server.ClearFaults();
        m_Server.ClearRequests();
    }

    void cleanup()
    {
        m_Host.Detach();
        m_App.reset();
    }

    void content_data()
    {
        QTest::addColumn<TestHttpServer::Fault>("fault");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("received"); // -1: the whole body; -2: not the body (an error page or nothing)

        TestHttpServer::Fault l_Fault;
        QTest::newRow("200") << l_Fault << QStringList{"done"} << -1;
        l_Fault.OmitContentLength = true;
        QTest::newRow("no Content-Length") << l_Fault << QStringList{"done"} << -1;
        l_Fault = TestHttpServer::Fault();
        l_Fault.Status = 404;
        QTest::newRow("404: OnDone, no error action") << l_Fault << QStringList{"done"} << -2;
        l_Fault.Status = 500;
        QTest::newRow("500: OnDone, no error action") << l_Fault << QStringList{"done"} << -2;
        l_Fault.Status = 416;
        QTest::newRow("416: UnknownContentError, then OnDone")
            << l_Fault << QStringList{"error 299", "done"} << -2;
        l_Fault = TestHttpServer::Fault();
        l_Fault.CloseAfterBytes = 70000;
        QTest::newRow("closed mid-body: RemoteHostClosedError, then OnDone with what came")
            << l_Fault << QStringList{"error 2", "done"} << 70000;
    }

    void content()
    {
        QFETCH(TestHttpServer::Fault, fault);
        QFETCH(QStringList, events);
        QFETCH(int, received);

        const QByteArray l_Body = Pattern(200000, 1);
        m_Server.SetResource("/doc.json", l_Body);
        m_Server.SetFault("/doc.json", fault);
        auto l_Result = Get(m_Server.Url("doc.json"));
        QTRY_VERIFY_WITH_TIMEOUT(l_Result->Done(), 20000);
        QCOMPARE(l_Result->Events, events);
        QCOMPARE(l_Result->Url, m_Server.Url("doc.json"));
        if (received == -1)
            QVERIFY(l_Result->Data == l_Body);
        else if (received == -2)
            QVERIFY(!l_Body.startsWith(l_Result->Data) || l_Result->Data.isEmpty());
        else
            QVERIFY(l_Result->Data.size() <= received && l_Body.startsWith(l_Result->Data));
        QVERIFY(m_App->m_ContentRequests.empty());
    }

    void connectionRefusedStillCallsOnDone()
    {
        QString l_Url;
        {
            TestHttpServer l_Gone;
            QVERIFY(l_Gone.Start());
            l_Url = l_Gone.Url("doc.json");
        }
        auto l_Result = Get(l_Url);
        QTRY_VERIFY_WITH_TIMEOUT(l_Result->Done(), 20000);
        QCOMPARE(l_Result->Events, QStringList{"done"});
        QVERIFY(l_Result->Data.isEmpty());
    }

    void parallelRequestsGetTheirOwnBytes()
    {
        TestHttpServer::Fault l_Slow;
        l_Slow.BytesPerSecond = 2000000; // slow enough for the transfers to interleave
        QList<QByteArray> l_Bodies;
        QList<std::shared_ptr<ContentResult>> l_Results;
        for (int l_Index = 0; l_Index < 4; ++l_Index)
        {
            l_Bodies << Pattern(150000 + l_Index * 1000, 10 + l_Index);
            const QString l_Path = QString("/doc%1").arg(l_Index);
            m_Server.SetResource(l_Path, l_Bodies.last());
            m_Server.SetFault(l_Path, l_Slow);
        }
        for (int l_Index = 0; l_Index < 4; ++l_Index)
            l_Results << Get(m_Server.Url(QString("doc%1").arg(l_Index)));
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(l_Results.begin(), l_Results.end(),
                                             [](const std::shared_ptr<ContentResult>& p_Result) { return p_Result->Done(); }),
                                 20000);
        for (int l_Index = 0; l_Index < 4; ++l_Index)
        {
            QCOMPARE(l_Results[l_Index]->Url, m_Server.Url(QString("doc%1").arg(l_Index)));
            QVERIFY(l_Results[l_Index]->Data == l_Bodies[l_Index]);
        }
    }

    void stalledContentEndsWithWhatCame()
    {
        ScopedEnv l_Stall("KESTRUN_STALL_TIMEOUT_MS", "300");
        const QByteArray l_Body = Pattern(50000, 2);
        m_Server.SetResource("/doc.json", l_Body);
        TestHttpServer::Fault l_Fault;
        l_Fault.StallAfterBytes = 1000;
        m_Server.SetFault("/doc.json", l_Fault);
        auto l_Result = Get(m_Server.Url("doc.json"));
        QTRY_VERIFY_WITH_TIMEOUT(l_Result->Done(), 20000);
        QCOMPARE(l_Result->Events, QStringList{"done"});
        QVERIFY(l_Result->Data.size() <= 1000 && l_Body.startsWith(l_Result->Data));
    }

    void sizes_data()
    {
        QTest::addColumn<TestHttpServer::Fault>("fault");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<qint64>("size"); // -1: not checked, only answered once

        TestHttpServer::Fault l_Fault;
        QTest::newRow("Content-Length") << l_Fault << true << qint64(123457);
        l_Fault.OmitContentLength = true;
        QTest::newRow("no Content-Length: 0") << l_Fault << true << qint64(0);
        l_Fault = TestHttpServer::Fault();
        l_Fault.NoAnswer = true;
        QTest::newRow("no answer: 0 after the time-out") << l_Fault << true << qint64(0);
        QTest::newRow("connection refused: 0") << TestHttpServer::Fault() << false << qint64(0);
        l_Fault = TestHttpServer::Fault();
        l_Fault.Status = 404;
        QTest::newRow("404: answered once") << l_Fault << true << qint64(-1);
    }

    void sizes()
    {
        QFETCH(TestHttpServer::Fault, fault);
        QFETCH(bool, listening);
        QFETCH(qint64, size);
        ScopedEnv l_Timeout("KESTRUN_SIZE_TIMEOUT_MS", "500");

        m_Server.SetResource("/file.bin", Pattern(123457, 3));
        m_Server.SetFault("/file.bin", fault);
        QString l_Url = m_Server.Url("file.bin");
        if (!listening)
        {
            TestHttpServer l_Closed;
            QVERIFY(l_Closed.Start());
            l_Url = l_Closed.Url("file.bin");
        }
        QList<quint64> l_Sizes;
        QString l_AnsweredUrl;
        m_App->HTTP_GetContentSize(l_Url, [&](QString p_Url, quint64 p_Size) {
            l_Sizes << p_Size;
            l_AnsweredUrl = p_Url;
        });
        QTRY_COMPARE_WITH_TIMEOUT(l_Sizes.size(), 1, 20000);
        QCOMPARE(l_AnsweredUrl, l_Url);
        if (size >= 0)
            QCOMPARE(l_Sizes.first(), quint64(size));
        // Never a second answer (a later header event, the finish, the time-out): the reply, its
        // timer and their connections are gone.
        QTRY_VERIFY_WITH_TIMEOUT(m_App->m_NetworkManager->findChildren<QNetworkReply*>().isEmpty(), 20000);
        QCoreApplication::processEvents();
        QCOMPARE(l_Sizes.size(), 1);
        QVERIFY(m_App->m_ContentSizeRequests.empty());
    }

    void sizesInParallel()
    {
        QMap<QString, quint64> l_Expected;
        for (int l_Index = 0; l_Index < 6; ++l_Index)
        {
            const QString l_Path = QString("/f%1").arg(l_Index);
            m_Server.SetResource(l_Path, Pattern(1000 + l_Index * 777, l_Index));
            l_Expected[m_Server.Url(l_Path)] = quint64(1000 + l_Index * 777);
        }
        QMap<QString, quint64> l_Answers;
        for (const QString& l_Url : l_Expected.keys())
            m_App->HTTP_GetContentSize(l_Url, [&](QString p_Url, quint64 p_Size) { l_Answers.insert(p_Url, p_Size); });
        QTRY_COMPARE_WITH_TIMEOUT(l_Answers.size(), l_Expected.size(), 20000);
        QCOMPARE(l_Answers, l_Expected);
    }

    void pendingRequestsGoWithTheApplication()
    {
        // Records of requests still in flight are freed with the application (the sanitizer build checks
        // for leaks), and no callback runs afterwards.
        m_Server.SetResource("/doc.json", Pattern(1000, 4));
        TestHttpServer::Fault l_Fault;
        l_Fault.NoAnswer = true;
        m_Server.SetFault("/doc.json", l_Fault);
        bool l_Called = false;
        m_App->HTTP_GetContent(
            m_Server.Url("doc.json"), [&](QString, QByteArray*) { l_Called = true; },
            [&](QNetworkReply::NetworkError) { l_Called = true; });
        m_App->HTTP_GetContentSize(m_Server.Url("doc.json"), [&](QString, quint64) { l_Called = true; });
        QTRY_COMPARE_WITH_TIMEOUT(m_Server.Requests("/doc.json").size(), 2, 20000);
        m_Host.Detach();
        m_App.reset();
        QCoreApplication::processEvents();
        QVERIFY(!l_Called);
    }
};

QTEST_MAIN(tst_ContentRequests)
#include "tst_contentrequests.moc"
