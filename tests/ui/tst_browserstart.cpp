#include "testenv.h"
#include "testrun.h"
#include "ui/appwindows.h"
#include "ui/downloadwindow.h"
#include "ui/fwebsearch.h"
#include "ui/optionswindow.h"
#include "ui/startupwindow.h"

#include <QDialog>
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
};

FN_TEST_MAIN_GUI(TestBrowserStart)
#include "tst_browserstart.moc"
