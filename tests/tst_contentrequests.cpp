// Small documents fetched into memory and the size asked of each file before a
// download: what the callbacks receive, whatever the server does.
#include "support/BareApplication.h"
#include "support/FakeHost.h"
#include "support/TestHttpServer.h"

#include <QtTest>

#include <memory>

using Fault = TestHttpServer::Fault;

namespace {

template <class T, class V>
Fault With(T Fault::*p_Field, V p_Value)
{
    Fault l_Fault;
    l_Fault.*p_Field = T(p_Value);
    return l_Fault;
}

/// What one content request's callbacks received, in order.
struct ContentResult
{
    QStringList Events; // "error <code>" and "done"
    QString Url;
    QByteArray Data;
};

} // namespace

class tst_ContentRequests : public QObject
{
    Q_OBJECT

    FakeHost m_Host;
    std::unique_ptr<BareApplication> m_App;
    TestHttpServer m_Server;
    const QByteArray m_Body = TestHttpServer::Pattern(200000, 1);
    const QByteArray m_Other = TestHttpServer::Pattern(150000, 2);

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
    void initTestCase()
    {
        QVERIFY(m_Server.Start());
        m_Server.SetResource("/doc", m_Body);
        m_Server.SetResource("/other", m_Other);
        qputenv("KESTRUN_SIZE_TIMEOUT_MS", "500");
    }

    void init()
    {
        m_App.reset(new BareApplication());
        m_Host.Attach(m_App.get());
        m_Server.ClearFaults();
        m_Server.ClearRequests();
    }

    void cleanup()
    {
        m_Host.Detach();
        m_App.reset();
        qunsetenv("KESTRUN_STALL_TIMEOUT_MS");
    }

    void content_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("received"); // at most these first bytes of the body; -1: all of it; -2: an error page

        QTest::newRow("200") << Fault() << QStringList{"done"} << -1;
        QTest::newRow("404: OnDone, not OnError") << With(&Fault::Status, 404) << QStringList{"done"} << -2;
        QTest::newRow("closed mid-body: RemoteHostClosedError, then OnDone with what came")
            << With(&Fault::CloseAfterBytes, 70000) << QStringList{"error 2", "done"} << 70000;
        QTest::newRow("stalled: OnDone with what came") << With(&Fault::StallAfterBytes, 1000) << QStringList{"done"}
                                                        << 1000;
    }

    void content()
    {
        QFETCH(Fault, fault);
        QFETCH(QStringList, events);
        QFETCH(int, received);
        if (fault.StallAfterBytes >= 0)
            qputenv("KESTRUN_STALL_TIMEOUT_MS", "300");
        m_Server.SetFault("/doc", fault);
        // Slow enough for the two transfers to interleave.
        m_Server.SetFault("/other", With(&Fault::BytesPerSecond, 2000000));

        auto l_Result = Get(m_Server.Url("doc"));
        auto l_Other = Get(m_Server.Url("other")); // at the same time, whatever happens to the first
        QTRY_VERIFY_WITH_TIMEOUT(l_Result->Events.contains("done") && !l_Other->Events.isEmpty(), 20000);
        QCOMPARE(l_Other->Events, QStringList{"done"});
        QVERIFY(l_Other->Data == m_Other);
        QCOMPARE(l_Result->Events, events);
        QCOMPARE(l_Result->Url, m_Server.Url("doc"));
        if (received == -1)
            QVERIFY(l_Result->Data == m_Body);
        else if (received >= 0)
            QVERIFY(l_Result->Data.size() <= received && m_Body.startsWith(l_Result->Data));
        QVERIFY(m_App->m_ContentRequests.empty());
    }

    void sizes_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<quint64>("size");

        QTest::newRow("Content-Length") << Fault() << quint64(m_Body.size());
        QTest::newRow("no Content-Length: 0") << With(&Fault::OmitContentLength, true) << quint64(0);
        QTest::newRow("no answer: 0 after the time-out") << With(&Fault::NoAnswer, true) << quint64(0);
    }

    void sizes()
    {
        QFETCH(Fault, fault);
        QFETCH(quint64, size);
        m_Server.SetFault("/doc", fault);

        QList<quint64> l_Sizes;
        QString l_Url;
        m_App->HTTP_GetContentSize(m_Server.Url("doc"), [&](QString p_Url, quint64 p_Size) {
            l_Url = p_Url;
            l_Sizes << p_Size;
        });
        QTRY_COMPARE_WITH_TIMEOUT(l_Sizes, QList<quint64>{size}, 20000);
        QCOMPARE(l_Url, m_Server.Url("doc"));
        // Never a second answer (a later header event, the finish, the time-out): the reply is gone.
        QTRY_VERIFY_WITH_TIMEOUT(m_App->m_NetworkManager->findChildren<QNetworkReply*>().isEmpty(), 20000);
        QCoreApplication::processEvents();
        QCOMPARE(l_Sizes.size(), 1);
        QVERIFY(m_App->m_ContentSizeRequests.empty());
    }

    void pendingRequestsGoWithTheApplication()
    {
        // Records of requests in flight are freed with the application (the sanitizer build reports
        // leaks), and no callback runs afterwards.
        m_Server.SetFault("/doc", With(&Fault::NoAnswer, true));
        bool l_Called = false;
        m_App->HTTP_GetContent(
            m_Server.Url("doc"), [&](QString, QByteArray*) { l_Called = true; },
            [&](QNetworkReply::NetworkError) { l_Called = true; });
        m_App->HTTP_GetContentSize(m_Server.Url("doc"), [&](QString, quint64) { l_Called = true; });
        QTRY_COMPARE_WITH_TIMEOUT(m_Server.Requests("/doc").size(), 2, 20000);
        m_Host.Detach();
        m_App.reset();
        QCoreApplication::processEvents();
        QVERIFY(!l_Called);
    }
};

QTEST_MAIN(tst_ContentRequests)
#include "tst_contentrequests.moc"
