// The download window with the paper library: the list of the last run offered back, the option that
// skips papers held from before, and the exports of the list menu.
#include "core/library/libraryopening.h"
#include "core/library/paperlibrary.h"
#include "core/queue/downloadqueue.h"
#include "core/queue/heldrowchecker.h"
#include "core/queue/queuekeeper.h"
#include "core/rows/downloadlistmodel.h"
#include "core/rows/targetfile.h"
#include "core/settings/settingsstore.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloadscheduler.h"
#include "desktop/filedialogs.h"
#include "testenv.h"
#include "testoptions.h"
#include "testrows.h"
#include "testrun.h"
#include "ui/downloadwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTreeView>

namespace {

QueueRow savedRow(const QString &name, RowState state)
{
    QueueRow row;
    row.address = QStringLiteral("http://127.0.0.1:1/") + name;
    row.name = name;
    row.type = QStringLiteral("pdf");
    row.folder = QStringLiteral("/tmp/papers/");
    row.state = static_cast<int>(state);
    if (state == RowState::Done)
        row.totalBytes = row.receivedBytes = 42;
    return row;
}

} // namespace

class TestDownloadWindowLibrary : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<PaperLibrary> m_library;

    // Opens a window the way the program does and closes it again through its own close.
    static void closeWindow(QPointer<fFileDownload> &window)
    {
        QVERIFY(window->close());
        QTRY_VERIFY(window.isNull());
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_library = std::make_unique<PaperLibrary>(m_dir->path() + QStringLiteral("/PaperLibrary.db"));
        QVERIFY(m_library->open().ok);
        fntest::runObjects().library = m_library.get();
    }

    void cleanup()
    {
        fntest::runObjects().library = nullptr;
        m_library.reset();
        m_dir.reset();
    }

    void theLastListIsOfferedBack_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::newRow("Yes brings the rows back") << true;
        QTest::newRow("No starts empty, and the question is not asked again") << false;
    }
    void theLastListIsOfferedBack()
    {
        QFETCH(bool, restore);
        QVERIFY(
            m_library->saveQueue({savedRow("done", RowState::Done), savedRow("waiting", RowState::Waiting),
                                  savedRow("failed", RowState::Failed)}));
        fntest::MessageRecorder messages;
        messages.answers = {restore ? MessageAnswer::Yes : MessageAnswer::No};
        QPointer<fFileDownload> window = new fFileDownload(fntest::runObjects());
        // The list is read beside the window's opening and offered once it is in.
        QTRY_VERIFY(!window->queue()->queueKeeper()->isLoading());
        QCOMPARE(messages.texts(), QStringList{"上次还有 2 个文件未下载完成，是否恢复？"});
        QCOMPARE(messages.messages.first().icon, MessageIcon::Question);
        QCOMPARE(messages.messages.first().buttons, MessageButtons::YesNo);
        DownloadListModel *model = window->model();
        if (restore) {
            QCOMPARE(model->count(), 3);
            QCOMPARE(model->row(0).state, RowState::Done);
            QCOMPARE(model->row(0).sizeText(), QStringLiteral("42"));
            QCOMPARE(model->row(1).state, RowState::Waiting);
            QCOMPARE(model->row(2).state, RowState::Waiting);
            QCOMPARE(window->Label1->text(), QStringLiteral("记录数：3"));
        } else {
            QCOMPARE(model->count(), 0);
        }
        messages.clear();
        closeWindow(window); // with waiting rows the close asks first (answered Yes)

        // What the window held when it closed is the last list now.
        QCOMPARE(m_library->loadQueue().size(), restore ? 3 : 0);
        messages.clear();
        messages.answers = {MessageAnswer::No};
        window = new fFileDownload(fntest::runObjects());
        QTRY_VERIFY(!window->queue()->queueKeeper()->isLoading());
        QCOMPARE(messages.texts(),
                 restore ? QStringList{"上次还有 2 个文件未下载完成，是否恢复？"} : QStringList{});
        closeWindow(window);
    }

    void aWindowClosedBeforeTheListIsReadKeepsIt()
    {
        const QList<QueueRow> saved{savedRow("done", RowState::Done), savedRow("waiting", RowState::Waiting)};
        QVERIFY(m_library->saveQueue(saved));
        fntest::MessageRecorder messages;
        QPointer<fFileDownload> window = new fFileDownload(fntest::runObjects());
        QVERIFY(window->queue()->queueKeeper()->isLoading());
        closeWindow(window);
        QCOMPARE(messages.texts(), QStringList{}); // nobody is asked about it on the way out
        QCOMPARE(m_library->loadQueue(), saved);
    }

    void aLibraryHeldByAnotherProgramIsWaitedForAndSaidSo()
    {
        m_library->setBusyTimeoutMs(300); // how long each try waits for the other program
        fntest::MessageRecorder messages;
        QPointer<fFileDownload> window = new fFileDownload(fntest::runObjects());
        QTRY_VERIFY(!window->queue()->queueKeeper()->isLoading());
        // Another program takes the write lock and keeps it until the window has said so.
        const QString other = QStringLiteral("other program");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), other);
            db.setDatabaseName(m_library->path());
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("BEGIN IMMEDIATE")));
            DownloadRow row;
            row.key = QStringLiteral("http://127.0.0.1:1/waits.pdf");
            row.name = QStringLiteral("waits");
            row.type = QStringLiteral("pdf");
            row.folder = m_dir->path() + u'/';
            QVERIFY(window->queue()->enqueue(row) != RowId::None);
            QTRY_COMPARE_WITH_TIMEOUT(
                window->panelText(3),
                QStringLiteral("文献资料库正被另一个程序写入，下载记录先保留，等它空闲后再写入资料库。"),
                30000);
            // Waiting is no failure: nobody is asked to do anything about it.
            QCOMPARE(messages.texts(), QStringList{});
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("COMMIT")));
        }
        QSqlDatabase::removeDatabase(other);
        QTRY_COMPARE_WITH_TIMEOUT(window->panelText(3),
                                  QStringLiteral("文献资料库已空闲，等待的下载记录已写入。"), 30000);
        QCOMPARE(messages.texts(), QStringList{});
        const QList<QueueRow> saved = m_library->loadQueue();
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved.first().address, QStringLiteral("http://127.0.0.1:1/waits.pdf"));
        closeWindow(window);
    }

    void theSkipOptionIsStoredAndDrivesTheCheck()
    {
        TestOptions::store().storeSkipHeld(true);
        QPointer<fFileDownload> window = new fFileDownload(fntest::runObjects());
        QVERIFY(window->CheckSkipHeld->isChecked());
        QVERIFY(window->CheckSkipHeld->isEnabled());
        QCOMPARE(window->CheckSkipHeld->text(), QStringLiteral("跳过已下载过的文献"));
        QVERIFY(window->queue()->heldRowChecker()->isEnabled());
        window->CheckSkipHeld->setChecked(false);
        QVERIFY(!window->queue()->heldRowChecker()->isEnabled());
        QCOMPARE(ReadSetting(QStringLiteral("下载"), QStringLiteral("跳过已下载过的文献"), QString()),
                 QStringLiteral("0"));
        closeWindow(window);

        // Without a library nothing can be known to be held: the option cannot be ticked.
        fntest::runObjects().library = nullptr;
        window = new fFileDownload(fntest::runObjects());
        QVERIFY(!window->CheckSkipHeld->isEnabled());
        QVERIFY(!window->queue()->heldRowChecker());
        closeWindow(window);
    }

    void exportsFromTheListMenu()
    {
        fntest::MessageRecorder messages;
        const QString papers = m_dir->path() + QStringLiteral("/papers/");
        QDir().mkpath(papers);
        fntest::writeFile(papers + QStringLiteral("one.pdf"), "%PDF-1.4 one");
        QVERIFY(m_library->recordSeen(
            {SeenPaper{QStringLiteral("http://site/1"),
                       PaperMetadata{QStringLiteral("第一篇"),
                                     {{QStringLiteral("作者"), QStringLiteral("张伟; 王芳")},
                                      {QStringLiteral("年份"), QStringLiteral("2019")}}},
                       QStringLiteral("http://site/results")}}));
        QList<filedialogs::Request> asked;
        QString answer;
        const filedialogs::Function previous =
            filedialogs::setFunction([&](QWidget *, const filedialogs::Request &request) {
                asked.append(request);
                return answer;
            });
        QPointer<fFileDownload> window = new fFileDownload(fntest::runObjects());
        DownloadListModel *model = window->model();
        for (const auto &[address, name, state] : {std::tuple{"http://site/1", "one", RowState::Done},
                                                   std::tuple{"http://site/2", "two", RowState::Failed},
                                                   std::tuple{"http://site/3", "three", RowState::Waiting}}) {
            DownloadRow row;
            row.key = QLatin1String(address);
            row.name = QString::fromUtf8(name);
            row.type = QStringLiteral("pdf");
            row.folder = papers;
            row.state = state;
            TestRows::of(*model).addRow(row);
        }
        // The export is written on a worker: its message says when it is done.
        const auto exportAs = [&](const char *action) {
            const qsizetype said = messages.messages.size();
            window->action(QLatin1String(action))->trigger();
            QTRY_VERIFY(messages.messages.size() > said);
        };

        // No row selected: every done row, into the file the dialog gave, which starts in the home folder.
        answer = m_dir->path() + QStringLiteral("/all.ris");
        const int looks = diskLooksOnMainThread();
        const int reads = libraryReadsOnMainThread();
        exportAs("actExportRis");
        QCOMPARE(diskLooksOnMainThread(), looks);
        QCOMPARE(libraryReadsOnMainThread(), reads);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.first().kind, filedialogs::Request::Kind::Save);
        QCOMPARE(QFileInfo(asked.first().startPath).absolutePath(), QDir::homePath());
        QCOMPARE(asked.first().defaultSuffix, QStringLiteral("ris"));
        const QString ris = QString::fromUtf8(fntest::readFile(answer));
        QCOMPARE(ris.count(QStringLiteral("ER  - ")), 1);
        QVERIFY(ris.contains(QStringLiteral("TI  - 第一篇")));
        QVERIFY(ris.contains(QStringLiteral("AU  - 王芳")));
        QVERIFY(ris.contains(papers + QStringLiteral("one.pdf")));
        QVERIFY(messages.texts().last().contains(QStringLiteral("1 篇")));

        // Selected rows, finished or not.
        window->ListView3->selectionModel()->select(model->index(1, 0),
                                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
        window->ListView3->selectionModel()->select(model->index(2, 0),
                                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
        answer = m_dir->path() + QStringLiteral("/chosen.bib");
        exportAs("actExportBibTeX");
        const QString bib = QString::fromUtf8(fntest::readFile(answer));
        QCOMPARE(bib.count(u'@'), 2);
        QVERIFY(bib.contains(QStringLiteral("http://site/2")) &&
                bib.contains(QStringLiteral("http://site/3")));
        QVERIFY(!bib.contains(QStringLiteral("http://site/1")));

        answer = m_dir->path() + QStringLiteral("/chosen.csv");
        exportAs("actExportCsv");
        QCOMPARE(QString::fromUtf8(fntest::readFile(answer)).count(QStringLiteral("\r\n")),
                 3); // header and two rows

        // A cancelled dialog writes nothing; a folder that cannot be written says so.
        const int before = messages.messages.size();
        answer.clear();
        window->action(QStringLiteral("actExportCsv"))->trigger();
        QCOMPARE(messages.messages.size(), before);
        answer = m_dir->path() + QStringLiteral("/no/such/folder/x.csv");
        exportAs("actExportCsv");
        QCOMPARE(messages.messages.last().icon, MessageIcon::Critical);
        QVERIFY(messages.texts().last().contains(answer));

        // Nothing to export: no done row and none selected.
        window->ListView3->clearSelection();
        TestRows::of(*model).clear();
        answer = m_dir->path() + QStringLiteral("/empty.ris");
        window->action(QStringLiteral("actExportRis"))->trigger();
        QVERIFY(!QFileInfo::exists(answer));
        QCOMPARE(messages.messages.last().icon, MessageIcon::Information);
        filedialogs::setFunction(previous);
        closeWindow(window);
    }
};

FN_TEST_MAIN_GUI(TestDownloadWindowLibrary)
#include "tst_downloadwindowlibrary.moc"
