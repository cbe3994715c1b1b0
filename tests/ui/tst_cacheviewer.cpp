#include "browser/browserprofile.h"
#include "cachefixture.h"
#include "core/common/disklooks.h"
#include "ui/cacheviewer.h"
#include "ui/fiecache.h"
#include "windowseams.h"

#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTreeWidget>
#include <QWebEngineProfile>
#include <QWebEngineView>

using namespace cachefixture;

namespace {

QList<fIECache *> allViewers()
{
    QList<fIECache *> viewers;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *viewer = qobject_cast<fIECache *>(widget))
            viewers.append(viewer);
    }
    return viewers;
}

fIECache *loadedViewer()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == u"fIECache")
            return qobject_cast<fIECache *>(widget);
    }
    return nullptr;
}

bool clickAndWait(fIECache *viewer, QPushButton *button)
{
    QSignalSpy finished(viewer->commands(), &CacheCommands::commandFinished);
    QTest::mouseClick(button, Qt::LeftButton);
    return finished.wait(20000);
}

QStringList columnTexts(QTreeWidget *list, int column)
{
    QStringList result;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        result.append(list->topLevelItem(i)->text(column));
    return result;
}

void clickHeader(QTreeWidget *list, int section)
{
    Q_EMIT list->header()->sectionClicked(section);
}

// Serves every path as a small page the browser may keep for an hour.
class CachingServer : public QTcpServer
{
public:
    CachingServer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    const QByteArray request = socket->readAll();
                    const QByteArray path = request.split(' ').value(1);
                    const QByteArray body =
                        path.endsWith(".js") ? QByteArray("document.title = 'scripted';")
                                             : QByteArray("<html><head><script src='app.js'></script></head>"
                                                          "<body>cached page</body></html>");
                    const QByteArray type = path.endsWith(".js") ? "application/javascript" : "text/html";
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: " + type +
                                  "\r\nContent-Length: " + QByteArray::number(body.size()) +
                                  "\r\nCache-Control: public, max-age=3600\r\nConnection: close\r\n\r\n" +
                                  body);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
};

} // namespace

class TestCacheViewer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        qDeleteAll(allViewers());
        CacheViewerSeam::setLocations(std::nullopt);
    }

    void windowHasItsControls()
    {
        Machine m;
        CacheViewerSeam::setLocations(m.locations());
        showCacheViewer(nullptr);
        fIECache *viewer = loadedViewer();
        QVERIFY(viewer);
        QVERIFY(viewer->isVisible());
        QCOMPARE(viewer->windowModality(), Qt::ApplicationModal);
        QCOMPARE(viewer->windowTitle(), QStringLiteral("IE浏览器缓存和历史列表-墨枢软件"));
        QCOMPARE(viewer->Label1->text(), QStringLiteral("000"));
        QCOMPARE(viewer->ListView1->headerItem()->text(2), QStringLiteral("SIZE(Byte)"));
        QCOMPARE(viewer->ListView1->columnCount(), 4);
        QCOMPARE(viewer->ListView2->columnCount(), 2);
        QCOMPARE(viewer->ListView3->columnCount(), 1);
        QCOMPARE(viewer->ListView1->editTriggers(), QAbstractItemView::NoEditTriggers);
        const QList<QPair<QString, QString>> buttons{
            {"Command1", "查看我的缓存"}, {"Command7", "查看所有用户缓存"}, {"Command2", "删除所选文件"},
            {"Command3", "全部删除"},     {"Command6", "复制选中..."},      {"Command4", "关闭"}};
        for (const auto &[name, caption] : buttons)
            QCOMPARE(viewer->findChild<QPushButton *>(name)->text(), caption);
        QVERIFY(viewer->listTag().isEmpty());

        // Opening again raises the same window.
        showCacheViewer(nullptr);
        QCOMPARE(loadedViewer(), viewer);
        QTest::mouseClick(viewer->Command4, Qt::LeftButton);
        QTRY_VERIFY(!loadedViewer());
    }

    void buttonsListSortAndDelete()
    {
        Machine m;
        const QString alice = m.cacheOf("alice"), bob = m.cacheOf("bob");
        mkdirs(alice);
        mkdirs(bob + "/sub");
        fntest::writeFile(alice + "/00000000000000a1_0",
                          entryBytes("1/0/http://s/big.pdf", QByteArray(100, 'x')));
        fntest::writeFile(alice + "/00000000000000b2_0",
                          entryBytes("1/0/http://s/small.js", QByteArray(9, 'x')));
        fntest::writeFile(bob + "/sub/one.bin", "1");
        CacheViewerSeam::setLocations(m.locations());
        showCacheViewer(nullptr);
        fIECache *viewer = loadedViewer();
        QVERIFY(QTest::qWaitForWindowExposed(viewer));

        QVERIFY(clickAndWait(viewer, viewer->Command1));
        QCOMPARE(viewer->Label1->text(), QStringLiteral("共有2 个文件"));
        QCOMPARE(columnTexts(viewer->ListView1, 1), (QStringList{"pdf", "js"}));
        QCOMPARE(viewer->listTag(), QStringLiteral("我的缓存"));
        QCOMPARE(columnTexts(viewer->ListView1, 0), (QStringList{"http://s/big.pdf", "http://s/small.js"}));

        clickHeader(viewer->ListView1, 2); // descending
        QCOMPARE(columnTexts(viewer->ListView1, 1), (QStringList{"pdf", "js"}));
        clickHeader(viewer->ListView1, 1); // ascending, by type
        QCOMPARE(columnTexts(viewer->ListView1, 1), (QStringList{"js", "pdf"}));
        clickHeader(viewer->ListView1, 2); // descending
        viewer->ListView1->topLevelItem(0)->setSelected(true);
        clickHeader(viewer->ListView1, 2); // ascending; the selection moves with its row
        QCOMPARE(columnTexts(viewer->ListView1, 1), (QStringList{"js", "pdf"}));
        QVERIFY(viewer->ListView1->topLevelItem(1)->isSelected());
        QVERIFY(!viewer->ListView1->topLevelItem(0)->isSelected());

        // "复制选中..." leaves everything as it is.
        QTest::mouseClick(viewer->Command6, Qt::LeftButton);
        QCOMPARE(QDir(alice).entryList(QDir::Files).size(), 2);

        QVERIFY(clickAndWait(viewer, viewer->Command2));
        QCOMPARE(columnTexts(viewer->ListView1, 0), QStringList{"http://s/small.js"});
        QVERIFY(!exists(alice + "/00000000000000a1_0"));
        QCOMPARE(viewer->Label1->text(), QStringLiteral("共有1 个文件"));

        QVERIFY(clickAndWait(viewer, viewer->Command7));
        QCOMPARE(viewer->listTag(), QStringLiteral("所有缓存"));
        QCOMPARE(columnTexts(viewer->ListView1, 0), (QStringList{"用户:alice", "用户:bob"}));
        QCOMPARE(columnTexts(viewer->ListView2, 0), (QStringList{"alice", "bob"}));
        QCOMPARE(columnTexts(viewer->ListView2, 1), (QStringList{alice, bob}));
        QCOMPARE(columnTexts(viewer->ListView3, 0), QStringList{bob + "/sub"});

        QVERIFY(clickAndWait(viewer, viewer->Command3));
        QCOMPARE(viewer->Label1->text(), QStringLiteral("共有0 个文件"));
        QVERIFY(!exists(bob + "/sub"));
        QVERIFY(QFileInfo(bob).isDir());
    }

    void clearingRunsHiddenAndAnnouncesTheEnd()
    {
        Machine m;
        const QString alice = m.cacheOf("alice"), bob = m.cacheOf("bob");
        mkdirs(alice);
        mkdirs(bob + "/a/b");
        fntest::writeFile(alice + "/00000000000000a1_0", entryBytes("1/0/http://s/x.pdf"));
        fntest::writeFile(alice + "/00000000000000b2_0", entryBytes("1/0/http://s/cookie.aspx"));
        fntest::writeFile(bob + "/a/b/c.bin", "x");
        fntest::writeFile(bob + "/list.txt", "kept");
        CacheViewerSeam::setLocations(m.locations());

        fntest::MessageRecorder recorder;
        ClearBrowserCache(true);
        QVERIFY(loadedViewer() && !loadedViewer()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(recorder.texts(), QStringList{"IE缓存清空完毕！"}, 20000);
        QCOMPARE(recorder.messages.at(0).icon, MessageIcon::Information);
        QTRY_VERIFY(!loadedViewer());
        // The cookie entry survives the current user's pass, but the all-users pass takes its file.
        QCOMPARE(QDir(alice).entryList(QDir::Files), QStringList{});
        QCOMPARE(QDir(bob).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"list.txt"});

        // Nothing left to delete, no message asked for: the window still goes away.
        recorder.clear();
        ClearBrowserCache(false);
        QTRY_VERIFY(!loadedViewer());
        QTest::qWait(50);
        QVERIFY(recorder.messages.isEmpty());
    }

    void addressesReadableAndColumnsWide()
    {
        Machine m;
        const QString alice = m.cacheOf("alice");
        mkdirs(alice);
        const QByteArray encoded = "http://s/" + QByteArray("%E8%AE%BA%E6%96%87%20").repeated(12) +
                                   "paper.pdf?note=%E2%80%AEfdp&x=%1B%5B2J";
        fntest::writeFile(alice + "/00000000000000a1_0", entryBytes("1/0/" + encoded));
        fntest::writeFile(alice + "/00000000000000b2_0", entryBytes("1/0/http://s/kept.js"));
        CacheViewerSeam::setLocations(m.locations());
        showCacheViewer(nullptr);
        fIECache *viewer = loadedViewer();
        QVERIFY(QTest::qWaitForWindowExposed(viewer));
        QVERIFY(clickAndWait(viewer, viewer->Command1));

        QTreeWidget *list = viewer->ListView1;
        const QStringList urls = columnTexts(list, 0);
        const QString decoded =
            QStringLiteral("http://s/") + QStringLiteral("论文 ").repeated(12) + "paper.pdf";
        const qsizetype at = urls.indexOf(QRegularExpression(QRegularExpression::escape(decoded) + ".*"));
        QVERIFY2(at >= 0, qPrintable(urls.join(u'\n')));
        const QString shown = urls.at(at);
        for (const QChar c : shown)
            QVERIFY2(c.unicode() >= 0x20 && c != QChar(0x202E), qPrintable(shown));     // no raw controls
        QCOMPARE(viewer->commands()->rows().at(at).text, QString::fromLatin1(encoded)); // the entry as it is

        // Every column shows its whole text, the file paths too, at the window's own size.
        const QFontMetrics metrics(list->font());
        for (int column = 0; column < list->columnCount(); ++column) {
            for (int row = 0; row < list->topLevelItemCount(); ++row) {
                const QString text = list->topLevelItem(row)->text(column);
                QVERIFY2(list->columnWidth(column) >= metrics.horizontalAdvance(text),
                         qPrintable(QStringLiteral("column %1: %2").arg(column).arg(text)));
            }
        }

        // Deleting the decoded row removes the real entry and its file.
        list->topLevelItem(int(at))->setSelected(true);
        QVERIFY(clickAndWait(viewer, viewer->Command2));
        QVERIFY(!exists(alice + "/00000000000000a1_0"));
        QCOMPARE(columnTexts(list, 0), QStringList{"http://s/kept.js"});
    }

    void aLongPathFarDownTheListIsNotCut()
    {
        Machine m;
        const QString bob = m.cacheOf("bob");
        mkdirs(bob + "/zz");
        for (int i = 0; i < 1100; ++i)
            fntest::writeFile(bob + QStringLiteral("/f%1").arg(i), "x");
        const QString longPath = bob + "/zz/" + QString(120, u'w') + ".bin";
        fntest::writeFile(longPath, "x"); // listed after every file above it
        CacheViewerSeam::setLocations(m.locations());
        showCacheViewer(nullptr);
        fIECache *viewer = loadedViewer();
        QVERIFY(clickAndWait(viewer, viewer->Command7));
        QTreeWidget *list = viewer->ListView1;
        QCOMPARE(list->topLevelItemCount(), 1101);
        QCOMPARE(list->topLevelItem(1100)->text(3), longPath);
        QVERIFY(list->columnWidth(3) >= QFontMetrics(list->font()).horizontalAdvance(longPath));
        QVERIFY(viewer->ListView3->columnWidth(0) >=
                QFontMetrics(list->font()).horizontalAdvance(bob + "/zz"));
    }

    void openingTheViewerDuringAClearGetsAWindowOfItsOwn()
    {
        Machine m;
        const QString alice = m.cacheOf("alice");
        mkdirs(alice);
        fntest::writeFile(alice + "/00000000000000a1_0", entryBytes("1/0/http://s/x.pdf"));
        CacheViewerSeam::setLocations(m.locations());
        fntest::MessageRecorder recorder;
        ClearBrowserCache(true);
        QPointer<fIECache> clearing = loadedViewer();
        QVERIFY(clearing && !clearing->isVisible());

        showCacheViewer(nullptr);
        QCOMPARE(allViewers().size(), 2);
        fIECache *mine = allViewers().at(allViewers().at(0) == clearing ? 1 : 0);
        QVERIFY(mine != clearing.data());
        QVERIFY(mine->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(recorder.texts(), QStringList{"IE缓存清空完毕！"}, 20000);
        QTRY_VERIFY(clearing.isNull());
        QVERIFY(mine->isVisible()); // the user's window stays open and works
        QVERIFY(clickAndWait(mine, mine->Command1));
        QCOMPARE(mine->listTag(), QStringLiteral("我的缓存"));

        // A second clear while one runs joins the hidden window, never the user's.
        ClearBrowserCache(false);
        ClearBrowserCache(false);
        QCOMPARE(allViewers().size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(allViewers(), QList<fIECache *>{mine}, 20000);
    }

    void listsAndEmptiesTheBrowsersOwnCache()
    {
        CachingServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const QString page = QStringLiteral("http://127.0.0.1:%1/index.html").arg(server.serverPort());
        const QString script = QStringLiteral("http://127.0.0.1:%1/app.js").arg(server.serverPort());
        {
            QWebEngineView view;
            auto *webPage = new SilentWebPage(programProfile(), &view);
            view.setPage(webPage);
            QSignalSpy loaded(webPage, &QWebEnginePage::loadFinished);
            webPage->load(QUrl(page));
            QVERIFY(loaded.wait(30000));
            QTRY_COMPARE_WITH_TIMEOUT(webPage->title(), QStringLiteral("scripted"), 20000);

            const AnchoredPath mine = AnchoredPath::lastComponentGuarded(browserCacheFolder());
            auto listed = [&] {
                QStringList addresses;
                for (const CacheRow &row : GetCacheURLList(mine).rows) {
                    if (!row.path.isEmpty() && row.size > 0)
                        addresses.append(row.text);
                }
                return addresses;
            };
            QTRY_VERIFY_WITH_TIMEOUT(listed().contains(page) && listed().contains(script), 30000);

            const QString home = QDir::homePath();
            CacheViewerSeam::setLocations(
                CacheLocations{mine, HomeRoots{{}, {home}}, browserCacheRelativePath()});
            showCacheViewer(nullptr);
            fIECache *viewer = loadedViewer();
            QVERIFY(clickAndWait(viewer, viewer->Command1));
            const QStringList urls = columnTexts(viewer->ListView1, 0);
            QVERIFY(urls.contains(page));
            QCOMPARE(viewer->ListView1->topLevelItem(int(urls.indexOf(script)))->text(1),
                     QStringLiteral("js"));
            QVERIFY(clickAndWait(viewer, viewer->Command7));
            QCOMPARE(columnTexts(viewer->ListView2, 0), QStringList{QFileInfo(home).fileName()});
            QVERIFY(viewer->ListView1->topLevelItemCount() >= 2);
            QVERIFY(clickAndWait(viewer, viewer->Command1));
            QVERIFY(clickAndWait(viewer, viewer->Command3));
            QVERIFY(!columnTexts(viewer->ListView1, 0).contains(page));
            QVERIFY(!listed().contains(page));
        }
    }

    // Listings and deletions leave the disk to the worker: the window's thread makes no disk look, the
    // list fills only when the answer is in, a link in a cache leads no deletion outside, a file gone
    // before its deletion is no fault, and a window closed during a deletion goes at once while the
    // deletion is still carried out.
    void theWindowLeavesTheDiskToItsWorker()
    {
        Machine m;
        const QString alice = m.cacheOf("alice"), bob = m.cacheOf("bob");
        mkdirs(alice);
        mkdirs(bob + "/sub");
        mkdirs(m.outside());
        fntest::writeFile(alice + "/00000000000000a1_0", entryBytes("1/0/http://s/a.pdf"));
        fntest::writeFile(alice + "/00000000000000b2_0", entryBytes("1/0/http://s/b.pdf"));
        fntest::writeFile(bob + "/sub/one.bin", "1");
        fntest::writeFile(bob + "/sub/two.bin", "2");
        fntest::writeFile(m.outside() + "/victim.bin", "victim");
        link(m.outside() + "/victim.bin", bob + "/sub/link.bin");
        link(m.outside(), bob + "/outside-folder");
        CacheViewerSeam::setLocations(m.locations());
        showCacheViewer(nullptr);
        QPointer<fIECache> viewer = loadedViewer();
        QVERIFY(QTest::qWaitForWindowExposed(viewer));
        const int before = diskLooksOnMainThread();

        QSignalSpy changed(viewer->commands(), &CacheCommands::listChanged);
        QTest::mouseClick(viewer->Command1, Qt::LeftButton);
        QVERIFY(!viewer->Command1->isEnabled());
        QCOMPARE(viewer->ListView1->topLevelItemCount(), 0);
        QVERIFY(changed.wait(20000));
        QCOMPARE(viewer->Label1->text(), QStringLiteral("共有2 个文件"));

        QVERIFY(QFile::remove(alice + "/00000000000000a1_0")); // gone between listing and deletion
        QVERIFY(clickAndWait(viewer, viewer->Command3));
        QCOMPARE(viewer->Label1->text(), QStringLiteral("共有0 个文件"));
        QVERIFY(QDir(alice).entryList(QDir::Files).isEmpty());

        QVERIFY(clickAndWait(viewer, viewer->Command7));
        QVERIFY(columnTexts(viewer->ListView1, 3).contains(bob + "/sub/two.bin"));
        QVERIFY(QFile::remove(bob + "/sub/two.bin"));
        QVERIFY(clickAndWait(viewer, viewer->Command3));
        QCOMPARE(viewer->Label1->text(), QStringLiteral("共有0 个文件"));
        QVERIFY(!exists(bob + "/sub/one.bin"));
        QCOMPARE(fntest::readFile(m.outside() + "/victim.bin"), QByteArray("victim"));

        // Closed in the middle of a deletion: the window goes without waiting, the files go all the same.
        mkdirs(bob + "/many");
        for (int i = 0; i < 400; ++i)
            fntest::writeFile(bob + QStringLiteral("/many/f%1.bin").arg(i), "x");
        QVERIFY(clickAndWait(viewer, viewer->Command7));
        QCOMPARE(viewer->Label1->text(), QStringLiteral("共有400 个文件"));
        QTest::mouseClick(viewer->Command3, Qt::LeftButton);
        QVERIFY(viewer->commands()->busy());
        viewer->close();
        QTRY_VERIFY(viewer.isNull());
        QTRY_VERIFY_WITH_TIMEOUT(!exists(bob + "/many"), 20000);
        QCOMPARE(fntest::readFile(m.outside() + "/victim.bin"), QByteArray("victim"));
        QVERIFY(QFileInfo(bob).isDir());
        QCOMPARE(diskLooksOnMainThread(), before);
    }

    // Runs last: it ends an event loop of the application.
    void quittingDuringAClearStopsItsWorker()
    {
        Machine m;
        const QString bob = m.cacheOf("bob");
        mkdirs(bob + "/a/b");
        for (int i = 0; i < 50; ++i)
            fntest::writeFile(bob + QStringLiteral("/a/b/f%1.bin").arg(i), "x");
        CacheViewerSeam::setLocations(m.locations());
        fntest::MessageRecorder recorder;
        ClearBrowserCache(true);
        QPointer<fIECache> clearing = loadedViewer();
        QVERIFY(clearing && clearing->commands()->busy());
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        QCoreApplication::exec();
        // The hidden window went when the program was told to end, and its worker with it.
        QVERIFY(clearing.isNull());
        QVERIFY(recorder.messages.isEmpty());
    }
};

FN_TEST_MAIN_GUI(TestCacheViewer)
#include "tst_cacheviewer.moc"
