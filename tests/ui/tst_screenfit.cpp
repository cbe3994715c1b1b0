// Every top-level window opens inside the screen it opens on. The test runs on a small screen of its own
// (the offscreen platform with an 800 × 600 screen, its windows framed), whatever platform it was given.
#include "core/library/paperlibrary.h"
#include "desktop/screenfit.h"
#include "testenv.h"
#include "testoptions.h"
#include "testrun.h"
#include "ui/aboutwindow.h"
#include "ui/downloadwindow.h"
#include "ui/fiecache.h"
#include "ui/fwebsearch.h"
#include "ui/library/librarywindow.h"
#include "ui/optionswindow.h"
#include "ui/savelocationchooser.h"
#include "ui/searchwindowhost.h"
#include "ui/startupwindow.h"

#include <QScreen>
#include <QTemporaryDir>
#include <functional>
#include <memory>

namespace {

const QSize kScreen(800, 600);

class Host : public SearchWindowHost
{
public:
    DownloadQueue *loadDownloadWindow() override { return nullptr; }
    void showDownloadWindow() override {}
    bool isDownloadWindowLoaded() const override { return false; }
    void showStartupWindow() override {}
    bool runSaveLocationChooser(QWidget *) override { return false; }
    void showOptions(QWidget *) override {}
    void showAbout(QWidget *) override {}
    void showCacheViewer(QWidget *) override {}
    void clearBrowserCache() override {}
};

// What keeps the window's frame from lying inside the screen's available area; empty when nothing does.
QString outside(const QWidget &window)
{
    const QRect area = window.screen()->availableGeometry();
    const QRect frame = window.frameGeometry();
    if (area.contains(frame))
        return {};
    return QStringLiteral("%1: frame %2,%3 %4×%5 on %6×%7")
        .arg(window.objectName())
        .arg(frame.x())
        .arg(frame.y())
        .arg(frame.width())
        .arg(frame.height())
        .arg(area.width())
        .arg(area.height());
}

} // namespace

class TestScreenFit : public QObject
{
    Q_OBJECT

    Host m_host;
    QTemporaryDir m_dir;

    // Shows the window as opened, and again after it was left beyond the screen's corner at a size of a
    // bigger screen: both times its frame lies inside.
    void check(QWidget &window)
    {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY2(outside(window).isEmpty(), qPrintable(outside(window)));
        window.hide();
        window.setGeometry(1500, 900, 1600, 1000);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY2(outside(window).isEmpty(), qPrintable(outside(window)));
        window.hide();
    }

private Q_SLOTS:
    void initTestCase() { QCOMPARE(QGuiApplication::primaryScreen()->availableGeometry().size(), kScreen); }

    void aFrameIsBroughtInside_data()
    {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<QRect>("area");
        QTest::addColumn<QRect>("fitted");
        const QRect screen(0, 0, 800, 600);
        QTest::newRow("inside: does it stay?")
            << QRect(10, 20, 300, 200) << screen << QRect(10, 20, 300, 200);
        QTest::newRow("beyond the bottom right: is it moved in?")
            << QRect(700, 500, 300, 200) << screen << QRect(500, 400, 300, 200);
        QTest::newRow("from a bigger screen: is it made the area's size?")
            << QRect(1500, 900, 1600, 1000) << screen << QRect(0, 0, 800, 600);
        QTest::newRow("a second screen with a panel: is it kept on that one?")
            << QRect(1900, 700, 500, 400) << QRect(1920, 30, 1024, 738) << QRect(1920, 368, 500, 400);
    }
    void aFrameIsBroughtInside()
    {
        QFETCH(QRect, frame);
        QFETCH(QRect, area);
        QFETCH(QRect, fitted);
        QCOMPARE(FitFrameInto(frame, area), fitted);
    }

    void theWorkingWindowsFit()
    {
        fWebSearch *search =
            new fWebSearch(&m_host, QUrl(QStringLiteral("about:blank")), fntest::runObjects());
        check(*search);
        search->setAttribute(Qt::WA_DeleteOnClose, false);
        delete search;
        fFileDownload download(fntest::runObjects());
        download.setAttribute(Qt::WA_DeleteOnClose, false);
        check(download);
        PaperLibrary library(m_dir.filePath(QStringLiteral("PaperLibrary.db")));
        QVERIFY(library.open().ok);
        LibraryWindow libraryWindow(library, nullptr, LibraryCommands::Hooks{});
        check(libraryWindow);
    }

    void theSmallerWindowsFit()
    {
        fCover cover;
        check(cover);
        OptionsWindow options(TestOptions::store());
        check(options);
        SaveLocationChooser chooser(TestOptions::store());
        check(chooser);
        AboutWindow about;
        check(about);
        fIECache cache(CacheLocations{});
        cache.setAttribute(Qt::WA_DeleteOnClose, false);
        check(cache);
    }
};

int main(int argc, char **argv)
{
    fntest::isolateUserFolders();
    // The small screen, with frames around the windows as a window manager draws them.
    QTemporaryDir configDir;
    const QString config = configDir.filePath(QStringLiteral("screen.json"));
    fntest::writeFile(config, QStringLiteral(R"({"windowFrameMargins": true, "screens": [{"name": "small",
        "x": 0, "y": 0, "width": %1, "height": %2, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                                  .arg(kScreen.width())
                                  .arg(kScreen.height())
                                  .toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toUtf8());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestScreenFit tc;
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_screenfit.moc"
