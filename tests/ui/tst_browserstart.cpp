#include "core/library/paperlibrary.h"
#include "testenv.h"
#include "testrun.h"
#include "ui/appwindows.h"
#include "ui/downloadwindow.h"
#include "ui/fwebsearch.h"
#include "ui/optionswindow.h"
#include "ui/startupwindow.h"

#include <QDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEngineProfile>

// The browser engine starts with the first window that shows a page, not with the program.
class TestBrowserStart : public QObject
{
    Q_OBJECT

    static int profiles() { return qApp->findChildren<QWebEngineProfile *>().size(); }

private Q_SLOTS:
    void startupAndOptionsOpenWithoutTheBrowser()
    {
        QTemporaryDir dir;
        fntest::writeFile(dir.path() + QStringLiteral("/index.html"), "<html><body>home</body></html>");
        AppWindows windows(QUrl::fromLocalFile(dir.path() + QStringLiteral("/index.html")),
                           TestOptions::store(), fntest::siteRules());
        windows.showStartup();
        QVERIFY(QTest::qWaitForWindowExposed(windows.startupWindow()));
        bool optionsShown = false;
        QTimer::singleShot(0, [&optionsShown] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            optionsShown = dialog != nullptr;
            if (dialog)
                dialog->reject();
        });
        windows.showOptions(windows.startupWindow());
        QVERIFY(optionsShown);
        QCOMPARE(profiles(), 0);

        // The search window shows a page: the engine starts with it, once for every later window.
        fWebSearch *search = windows.showSearchWindow();
        QVERIFY(search);
        QCOMPARE(profiles(), 1);
        windows.showDownloadWindow();
        QCOMPARE(profiles(), 1);
        windows.downloadWindow()->close();
        search->close();
    }

    // A search window asked for while the library is still opening comes once the library has come, with
    // it; when it cannot be opened, the search window comes without it.
    void theSearchWindowWaitsForTheLibrary_data()
    {
        QTest::addColumn<bool>("opened");
        QTest::newRow("the library opened") << true;
        QTest::newRow("the library could not be opened") << false;
    }

    void theSearchWindowWaitsForTheLibrary()
    {
        QFETCH(bool, opened);
        QTemporaryDir dir;
        PaperLibrary library(dir.path() + QStringLiteral("/PaperLibrary.db"));
        QVERIFY(library.open().ok);
        AppWindows windows(QUrl(QStringLiteral("about:blank")), TestOptions::store(), fntest::siteRules());
        windows.awaitLibrary();
        windows.showStartup();
        QVERIFY(!windows.showSearchWindow());
        QVERIFY(!windows.searchWindow());

        windows.setLibrary(opened ? &library : nullptr);
        QVERIFY(windows.searchWindow());
        QVERIFY(windows.searchWindow()->isVisible());
        QCOMPARE(windows.run().library, opened ? &library : nullptr);
        // From now on the search window is shown at once.
        QCOMPARE(windows.showSearchWindow(), windows.searchWindow());
        windows.searchWindow()->close();
    }
};

FN_TEST_MAIN_GUI(TestBrowserStart)
#include "tst_browserstart.moc"
