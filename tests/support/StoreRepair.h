#pragma once
#include "CascRig.h"
#include "TestBuild.h"
#include "casc/CASCArchivesManager.h"
#include "casc/CASCIndexManager.h"
#include "platform/QtCompat.h"

#include <QtTest>

#include <set>

/// The shared store rig (forged store on the test server, or the end-to-end run's nginx) with
/// the archive manager's callables recorded, over the store's installation or m_Install.
struct StoreRepair : CascRig
{
    QString m_Install; ///< empty: the forged store's own
    QList<QPair<int, QString>> m_Raised;
    bool m_Loaded = false, m_Finished = false;
    QList<QList<quint64>> m_Started, m_Completed;

    /// Forged and served; orchestrator and (unless told otherwise) encoding file loaded.
    bool Ready(const QStringList& p_Args, bool p_LoadEncoding = true)
    {
        return Forge(p_Args) && Open() && (!p_LoadEncoding || LoadEncoding());
    }
    QString Install() const { return m_Install.isEmpty() ? m_Store.Install() : m_Install; }
    QJsonObject Blob(int p_Number) const { return m_Store.Blobs().at(p_Number).toObject(); }
    Orvane::CASC::CASCArchivesManager* Manager() const { return m_App->GetArchivesManager(); }
    QString Db() const { return Install() + "ToDownloadCASC.db"; }
    QString ArchivePath(int p_Number) const { return Install() + QString::asprintf("data/data/data.%03d", p_Number); }
    /// The served path of the CDN archive that holds blob p_Number.
    QString CdnPath(int p_Number) const
    {
        return m_Store.CdnPath(Blob(p_Number)["patch"].toBool() ? "patch" : "data", Blob(p_Number)["cdnArchive"].toString());
    }
    /// The served path of the encoding file.
    QString EncodingPath() const { return m_Store.CdnPath("data", EncodingKey()); }
    QString EncodingKey() const { return m_Store.Summary()["encoding"].toObject()["encodingKey"].toString(); }

    /// A new orchestrator initialised from the CDN, indices loaded, callables installed.
    bool Open()
    {
        NewApp(m_Install);
        QObject::connect(m_App.get(), &Orvane::CASC::CASCApplication::OnError,
                         [this](Orvane::CASC::Errors::Type p_Type, QString p_Message) { m_Raised.append({int(p_Type), p_Message}); });
        if (!Init())
            return false;
        m_App->GetIndexManager()->Load();
        const auto l_Record = [](QList<QList<quint64>>& p_List) {
            return [&p_List](int p_File, int p_Files, int p_Percent, quint64 p_Done, quint64 p_Total, quint64) {
                p_List.append({quint64(p_File), quint64(p_Files), quint64(p_Percent), p_Done, p_Total});
            };
        };
        Manager()->m_OnEncodingLoaded = [this] { m_Loaded = true; };
        Manager()->m_OnFinished = [this] { m_Finished = true; };
        Manager()->m_OnBusy = [] {};
        Manager()->m_OnCheckProgress = [](quint32, quint32) {};
        Manager()->m_OnDownloadStarted = l_Record(m_Started);
        Manager()->m_OnDownloadProgress = [](int, int, int, quint64, quint64, quint64) {};
        Manager()->m_OnDownloadCompleted = l_Record(m_Completed);
        return m_Raised.isEmpty();
    }
    bool LoadEncoding()
    {
        m_Loaded = false;
        Manager()->Init(Db());
        return QTest::qWaitFor([&] { return m_Loaded || !m_Raised.isEmpty(); }, 20000) && m_Loaded;
    }
    /// The index keys the scan lists, in list order.
    QStringList Scan()
    {
        Manager()->ScanInstall();
        QStringList l_Keys;
        for (const Orvane::CASC::CASCArchiveFileEntry& l_Entry : Manager()->GetDownloadList())
            l_Keys.append(QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(l_Entry._IndexRecord->_Key.data()), 9).toHex()));
        return l_Keys;
    }
    /// Loads the list back from the database and streams it until finished or an error.
    bool Stream(int p_TimeoutMs = 60000)
    {
        Manager()->LoadDownloadList();
        m_Finished = false;
        Manager()->StartStreaming();
        return WaitFinished(p_TimeoutMs);
    }
    bool WaitFinished(int p_TimeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return m_Finished || !m_Raised.isEmpty(); }, p_TimeoutMs) && m_Finished;
    }
    std::set<QString> Damaged() const
    {
        std::set<QString> l_Keys;
        for (const QJsonValue& l_Slot : m_Store.Summary()["damagedSlots"].toArray())
            l_Keys.insert(l_Slot.toObject()["indexKey"].toString());
        return l_Keys;
    }
    /// Scan, stream and scan again: the second scan must list nothing.
    void ScanStreamRescan()
    {
        const QStringList l_Listed = Scan();
        QCOMPARE(std::set<QString>(l_Listed.begin(), l_Listed.end()), Damaged());
        QCOMPARE(QString::fromLatin1(TestBuild::Read(Db())).split('\n', Orvane::Compat::SkipEmptyParts), l_Listed);
        QVERIFY(Stream());
        QVERIFY2(m_Raised.isEmpty(), qPrintable(m_Raised.value(0).second));
        QVERIFY(Scan().isEmpty());
        QVERIFY(TestBuild::Read(Db()).isEmpty());
    }
};
