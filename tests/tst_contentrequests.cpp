// Small documents fetched into memory and the size asked of each file before a
// download: what the callbacks receive, whatever the server does.
#include "support/BareApplication.h"
#include "support/FakeHost.h"
#include "support/TestHttpServer.h"
#include "support/TestTlsServer.h"

#include <QScopeGuard>
#include <QtTest>

#include <memory>

using Fault = TestHttpServer::Fault;

/// What one content request's callbacks received.
struct ContentResult
{
    QStringList Events; // "error <code>" and "done" (naming the URL when it is not the one asked), in order
    QByteArray Data;
};

class tst_ContentRequests : public QObject
{
    Q_OBJECT

    FakeHost m_Host;
    std::unique_ptr<BareApplication> m_App;
    TestHttpServer m_Server;
    TestHttpServer m_Second; ///< where redirects lead
    const QByteArray m_Body = TestHttpServer::Pattern(200000, 1);
    const QByteArray m_Other = TestHttpServer::Pattern(150000, 2);

    std::shared_ptr<ContentResult> Get(const QString& p_Url)
    {
        auto l_Result = std::make_shared<ContentResult>();
        m_App->HTTP_GetContent(
            p_Url,
            [l_Result, p_Url](QString p_Given, QByteArray* p_Data) {
                l_Result->Events << (p_Given == p_Url ? "done" : "done for " + p_Given);
                l_Result->Data = *p_Data;
            },
            [l_Result](QNetworkReply::NetworkError p_Code) { l_Result->Events << "error " + QString::number(p_Code); });
        return l_Result;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_Server.Start());
        m_Server.SetResource("/doc", m_Body);
        m_Server.SetResource("/other", m_Other);
        QVERIFY(m_Second.Start());
        m_Second.SetFault("/hop", With(&Fault::RedirectTo, m_Second.Url("doc")));
        m_Second.SetResource("/doc", m_Body);
        m_Server.SetResource("/big", TestHttpServer::Pattern(300000, 3));
        qputenv("KESTRUN_MAX_DOCUMENT_BYTES", "250000");
        qputenv("KESTRUN_SIZE_TIMEOUT_MS", "500");
        qputenv("KESTRUN_STALL_TIMEOUT_MS", "1000");
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
    }

    void content_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<int>("received"); // bytes of the body delivered; -1: all of it
        QTest::newRow("200") << Fault() << QStringList{"done"} << -1;
        QTest::newRow("404: OnDone with nothing, not OnError") << With(&Fault::Status, 404) << QStringList{"done"} << 0;
        QTest::newRow("503: OnDone with nothing") << With(&Fault::Status, 503) << QStringList{"done"} << 0;
        QTest::newRow("redirected twice to a second host")
            << With(&Fault::RedirectTo, m_Second.Url("hop")) << QStringList{"done"} << -1;
        QTest::newRow("redirected for ever: nothing") << With(&Fault::RedirectTo, m_Server.Url("loop"))
                                                      << QStringList{"done"} << 0;
        // A part of a document is no document (half a host name in the CDN list): OnDone gets nothing.
        QTest::newRow("closed mid-body: RemoteHostClosedError, then OnDone with nothing")
            << With(&Fault::CloseAfterBytes, 70000) << QStringList{"error 2", "done"} << 0;
        QTest::newRow("stalled: OnDone with nothing")
            << With(&Fault::StallAfterBytes, 1000) << QStringList{"done"} << 0;
        Fault l_Unsized = With(&Fault::OmitContentLength, true);
        QTest::newRow("no Content-Length: whole at the close") << l_Unsized << QStringList{"done"} << -1;
    }

    void content()
    {
        QFETCH(Fault, fault);
        QFETCH(QStringList, events);
        QFETCH(int, received);
        m_Server.SetFault("/doc", fault);
        m_Server.SetFault("/other", With(&Fault::BytesPerSecond, 2000000)); // slow: the two interleave
        m_Server.SetFault("/loop", With(&Fault::RedirectTo, m_Server.Url("loop")));

        // The other request travels while the first one's fault plays out, on a connection of its own: sent
        // first, since Qt may hand a request it still holds to a connection the server is closing.
        auto l_Other = Get(m_Server.Url("other"));
        QTRY_COMPARE_WITH_TIMEOUT(m_Server.Requests("/other").size(), 1, 20000);
        auto l_Result = Get(m_Server.Url("doc"));
        QTRY_VERIFY_WITH_TIMEOUT(l_Result->Events.contains("done") && !l_Other->Events.isEmpty(), 20000);
        QVERIFY(l_Other->Events == QStringList{"done"} && l_Other->Data == m_Other);
        QCOMPARE(l_Result->Events, events);
        QVERIFY(received != -1 || l_Result->Data == m_Body);
        QVERIFY(received < 0 || (l_Result->Data.size() == received && m_Body.startsWith(l_Result->Data)));
        QVERIFY(m_App->m_ContentRequests.empty());
    }

    void sizes_data()
    {
        // methods: what the server saw, in order.
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<quint64>("size");
        QTest::addColumn<QByteArrayList>("methods");
        const QByteArrayList l_Head{"HEAD"};
        QTest::newRow("Content-Length") << Fault() << quint64(m_Body.size()) << l_Head;
        QTest::newRow("no Content-Length: 0") << With(&Fault::OmitContentLength, true) << quint64(0) << l_Head;
        QTest::newRow("no answer: 0 after the time-out") << With(&Fault::NoAnswer, true) << quint64(0) << l_Head;
        QTest::newRow("404: unknown, not the error page's length") << With(&Fault::Status, 404) << quint64(0) << l_Head;
        QTest::newRow("redirected: the size at the end")
            << With(&Fault::RedirectTo, m_Second.Url("hop")) << quint64(m_Body.size()) << l_Head;
        QTest::newRow("HEAD refused (405): GET") << With(&Fault::HeadStatus, 405) << quint64(m_Body.size())
                                                 << QByteArrayList{"HEAD", "GET"};
        QTest::newRow("HEAD not implemented (501): GET") << With(&Fault::HeadStatus, 501) << quint64(m_Body.size())
                                                         << QByteArrayList{"HEAD", "GET"};
    }

    void sizes()
    {
        QFETCH(Fault, fault);
        QFETCH(quint64, size);
        QFETCH(QByteArrayList, methods);
        m_Server.SetFault("/doc", fault);
        const QString l_Url = m_Server.Url("doc");
        QList<QPair<QString, quint64>> l_Sizes;
        m_App->HTTP_GetContentSize(l_Url, [&](QString p_Url, quint64 p_Size) { l_Sizes.append({p_Url, p_Size}); });
        QTRY_COMPARE_WITH_TIMEOUT(l_Sizes, (decltype(l_Sizes){{l_Url, size}}), 20000);
        // Never a second answer (a later header event, the finish, the time-out): the reply is gone.
        QTRY_VERIFY_WITH_TIMEOUT(m_App->findChildren<QNetworkReply*>().isEmpty(), 20000);
        QCoreApplication::processEvents();
        QVERIFY(l_Sizes.size() == 1 && m_App->m_ContentSizeRequests.empty());
        QByteArrayList l_Methods;
        for (const TestHttpServer::Request& l_Request : m_Server.Requests("doc"))
            l_Methods << l_Request.Method;
        QCOMPARE(l_Methods, methods);
    }

    void sizeRequestsKeepTheirConnections()
    {
        // Answered HEADs leave their connections open: a hundred sizes need no more connections
        // than the size managers run side by side. The answers, not the time-out, are under test here:
        // a hundred HEADs under Wine on a loaded machine wait past the suite's 500 ms for a few answers.
        qputenv("KESTRUN_SIZE_TIMEOUT_MS", "20000");
        const auto l_Restore = qScopeGuard([] { qputenv("KESTRUN_SIZE_TIMEOUT_MS", "500"); });
        QList<quint64> l_Sizes;
        for (int l_I = 0; l_I < 100; ++l_I)
            m_App->HTTP_GetContentSize(m_Server.Url("doc"), [&](QString, quint64 p_Size) { l_Sizes << p_Size; });
        QTRY_COMPARE_WITH_TIMEOUT(l_Sizes.size(), 100, 20000);
        QVERIFY(std::all_of(l_Sizes.begin(), l_Sizes.end(), [&](quint64 p_Size) { return p_Size == quint64(m_Body.size()); }));
        QVERIFY2(m_Server.Connections() <= Orvane::Launcher::Application::SizeRequestsInFlight, qPrintable(QString::number(m_Server.Connections())));
    }

    /// A document past the size bound fails like a closed connection, with at most the bound in memory.
    void documentBound()
    {
        auto l_Result = Get(m_Server.Url("big"));
        QTRY_VERIFY_WITH_TIMEOUT(l_Result->Events.contains("done"), 20000);
        QCOMPARE(l_Result->Events, QStringList({"error 2", "done"}));
        QVERIFY(l_Result->Data.size() <= 250000);
    }

    void tlsFailureIsToldAsSuch()
    {
        // Verification stays on; the user hears why the document could not be read.
        QTemporaryDir l_Dir;
        TestTlsServer l_Tls;
        QString l_Why;
        if (!l_Tls.Start(l_Dir.path(), "IP:127.0.0.1", &l_Why))
            QSKIP(qPrintable(l_Why));
        auto l_Result = Get(l_Tls.Url("doc"));
        QTRY_VERIFY_WITH_TIMEOUT(l_Result->Events.contains("done"), 20000);
        QVERIFY(l_Result->Data.isEmpty());
        QVERIFY2(m_Host.Errors.contains(l_Tls.Url("doc") + ": the server's certificate is not trusted"),
                 qPrintable(m_Host.Errors.join('\n')));
    }

    void pendingRequestsGoWithTheApplication()
    {
        // Records of requests in flight are freed with the application (the sanitizer build reports
        // leaks), and no callback runs afterwards.
        m_Server.SetFault("/doc", With(&Fault::NoAnswer, true));
        bool l_Called = false;
        const auto l_Call = [&](auto&&...) { l_Called = true; };
        m_App->HTTP_GetContent(m_Server.Url("doc"), l_Call, l_Call);
        m_App->HTTP_GetContentSize(m_Server.Url("doc"), l_Call);
        QTRY_COMPARE_WITH_TIMEOUT(m_Server.Requests("/doc").size(), 2, 20000);
        m_Host.Detach();
        m_App.reset();
        QCoreApplication::processEvents();
        QVERIFY(!l_Called);
    }
};

QTEST_MAIN(tst_ContentRequests)
#include "tst_contentrequests.moc"
