#pragma once

#include "core/rows/downloadlistmodel.h"
#include "core/transfer/downloadscheduler.h"
#include "faultserver.h"
#include "testrows.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

// A download list and its scheduler, made fresh for each test function,
// fetching from the test's fault server into a folder of their own. A test
// holds one in a member that init() fills and cleanup() empties.
class QueueFixture
{
public:
    // Rows save into `subfolder` of the fixture's folder (created here); empty:
    // the folder itself.
    explicit QueueFixture(FaultServer &server, const QString &subfolder = {})
        : m_server(server),
          m_folder(m_dir.path() + u'/' + (subfolder.isEmpty() ? QString() : subfolder + u'/')),
          m_model(std::make_unique<DownloadListModel>()),
          m_scheduler(std::make_unique<DownloadScheduler>(TestRows::of(*m_model)))
    {
        QDir().mkpath(m_folder);
        // The folder's names are in before a test starts rows, as they are for a folder a run used before.
        QTest::qWaitFor([this] { return m_scheduler->picker().names().listed(m_folder); }, 5000);
        m_scheduler->options().policy = DuplicatePolicy::Rename;
        m_scheduler->options().retries = 0; // each answer is judged on its own unless a test asks otherwise
        m_server.clearRequests();
    }
    ~QueueFixture()
    {
        m_server.releaseAll();
        m_scheduler.reset(); // before the list it works on
    }
    QueueFixture(const QueueFixture &) = delete;
    QueueFixture &operator=(const QueueFixture &) = delete;

    DownloadListModel *model() const { return m_model.get(); }
    DownloadScheduler *scheduler() const { return m_scheduler.get(); }
    // The temporary folder, and the folder the rows save into; both end in "/".
    QString root() const { return m_dir.path() + u'/'; }
    QString folder() const { return m_folder; }

    // A waiting row for a path on the server (or for a whole address) saving into
    // the folder.
    RowId addRow(const QString &address, const QString &name,
                 const QString &type = QStringLiteral("pdf")) const
    {
        DownloadRow row;
        row.key = address.startsWith(u'/') ? m_server.url(address).toString() : address;
        row.name = name;
        row.type = type;
        row.folder = m_folder;
        return TestRows::of(*m_model).addRow(row);
    }
    const DownloadRow &row(RowId id) const { return *m_model->find(id); }

    // Files in the folder, temporary and hidden ones included.
    QStringList files() const
    {
        return QDir(m_folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

    void use(int method, int threads = 1) const
    {
        m_scheduler->options().method = methodFromNumber(method);
        m_scheduler->options().threadCount = threads;
    }

    // Starts the queue and waits for its end; then no transfer may be left.
    void runToEnd(int timeoutMs = 20000) const
    {
        QSignalSpy finished(m_scheduler.get(), &DownloadScheduler::queueFinished);
        m_scheduler->start();
        QTRY_VERIFY2_WITH_TIMEOUT(finished.count() == 1, qPrintable(m_model->totalsText()), timeoutMs);
        QVERIFY(!m_scheduler->transfers().anyTransferLive());
    }

private:
    FaultServer &m_server;
    QTemporaryDir m_dir;
    QString m_folder;
    std::unique_ptr<DownloadListModel> m_model;
    std::unique_ptr<DownloadScheduler> m_scheduler;
};
