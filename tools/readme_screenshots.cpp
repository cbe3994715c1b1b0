// Opens the program's windows on the demo site, walks the road a user takes (search, add all pages,
// analyse, download) and saves a picture of each main window into the folder given as argument; then a
// failed row with its reason (tooltip and second panel), the login panel open on the site's login page and
// a queue paused by the site's verification page, with its 继续 in the message bar. Every window has its
// default size.
#include "browser/browserprofile.h"
#include "commonseams.h"
#include "core/queue/downloadqueue.h"
#include "core/rows/downloadlistmodel.h"
#include "core/search/addallwalk.h"
#include "core/search/candidateanalysis.h"
#include "core/settings/sharedoptions.h"
#include "core/sites/siterules.h"
#include "core/transfer/downloadscheduler.h"
#include "demo/demosite.h"
#include "ui/appwindows.h"
#include "ui/loginpanel.h"
#include "ui/savelocationchooser.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <QWebEngineView>
#include <cstdio>

namespace {

void waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

void pause(int ms)
{
    waitFor([] { return false; }, ms);
}

void save(QWidget *window, const QString &path)
{
    window->raise();
    window->activateWindow();
    pause(800);
    window->grab().save(path);
}

// The screen where the window is, so that a tooltip over it is in the picture too.
void saveFromScreen(QWidget *window, const QString &path)
{
    pause(800);
    const QRect frame = window->frameGeometry();
    window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).save(path);
}

// A failed row (a paper the site no longer has) with its reason in the tooltip and in the second panel.
void saveFailedRow(fFileDownload *downloads, const QUrl &missing, const QString &path)
{
    DownloadRow row;
    row.key = missing.toString();
    row.name = QStringLiteral("已撤稿的论文");
    row.type = QStringLiteral("pdf");
    row.folder = downloads->model()->row(0).folder;
    const RowId id = downloads->queue()->enqueue(row);
    downloads->queue()->start();
    waitFor([&] { return downloads->model()->find(id)->state == RowState::Failed; }, 30000);
    const QModelIndex index = downloads->model()->index(downloads->model()->positionOf(id), 0);
    downloads->ListView3->scrollTo(index);
    downloads->ListView3->setCurrentIndex(index);
    const QRect cell = downloads->ListView3->visualRect(index);
    Q_EMIT downloads->ListView3->clicked(index);
    downloads->raise();
    downloads->activateWindow();
    pause(500);
    // Above the row, so that it leaves the status bar in sight.
    QToolTip::showText(
        downloads->ListView3->viewport()->mapToGlobal(QPoint(cell.left() + 120, cell.top() - 44)),
        index.data(Qt::ToolTipRole).toString(), downloads->ListView3);
    saveFromScreen(downloads, path);
    QToolTip::hideText();
}

// The login panel over the list, on the site's login page.
void saveLoginPanel(fFileDownload *downloads, const QUrl &login, const QString &path)
{
    downloads->ListView3->clearSelection();
    downloads->Command1->click();
    LoginPanel *panel = downloads->PicWebBK;
    panel->Text1->setText(login.toString());
    panel->Text2->setText(QStringLiteral("demo"));
    panel->Text3->setText(QStringLiteral("demo"));
    panel->Command2->click();
    waitFor([&] { return panel->WebBrowser1->url() == login && !panel->isNavigating(); }, 15000);
    pause(1000);
    save(downloads, path);
}

// The site asks for a verification: the queue pauses and says so above the list, with 继续.
void saveVerificationPause(fFileDownload *downloads, DemoSite &site, const QString &path)
{
    site.faults().setVerifyAfter(1);
    // Three finished papers once more (the duplicate-name rule gives them new names).
    downloads->ListView3->clearSelection();
    for (int row = 0; row < 3; ++row)
        downloads->ListView3->selectionModel()->select(
            downloads->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    downloads->action(QStringLiteral("actRedownloadSelected"))->trigger();
    downloads->queue()->start();
    waitFor([&] { return downloads->scheduler()->pause().isPausedForVerification(); }, 30000);
    LoginPanel *panel = downloads->PicWebBK;
    waitFor([&] { return !panel->isNavigating() && !panel->WebBrowser1->title().isEmpty(); }, 15000);
    pause(1000);
    save(downloads, path);
}

} // namespace

int main(int argc, char **argv)
{
    // A throw-away profile: the pictures neither read nor change the developer's settings and history.
    QTemporaryDir profile;
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(name, (profile.path() + u'/' + QString::fromLatin1(name)).toLocal8Bit());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);
    // Nobody is there to answer: questions get Yes, and every text goes to the terminal.
    MessageSeam::replace([](const MessageRequest &request) {
        std::fprintf(stderr, "message: %s\n", qPrintable(request.text));
        return request.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    });
    OptionStore options;
    options.loadFromStore();
    SiteRulesCatalog siteRules;
    siteRules.loadUserFolder(SiteRulesCatalog::userFolder());
    QTemporaryDir papers;
    const QString folder = papers.path() + QStringLiteral("/论文");
    // The chooser opens when the rows are taken: it is confirmed with the folder above.
    QTimer chooserAnswer;
    QObject::connect(&chooserAnswer, &QTimer::timeout, [&] {
        if (auto *chooser = qobject_cast<SaveLocationChooser *>(QApplication::activeModalWidget())) {
            chooser->folderBox()->setEditText(folder);
            chooser->confirm();
        }
    });
    chooserAnswer.start(100);

    DemoSite site;
    site.listen();
    AppWindows windows(site.homeUrl(), options, siteRules);
    windows.showStartup();
    pause(500);
    save(windows.startupWindow(), out + QStringLiteral("/startup.png"));

    fWebSearch *search = windows.showSearchWindow();
    windows.startupWindow()->hide();
    waitFor([&] { return search->page()->url() == site.homeUrl(); }, 15000);
    search->page()->load(site.searchUrl(QStringLiteral("纳米材料")));
    pause(2000);
    bool walked = false;
    QObject::connect(search->addAllWalk(), &AddAllWalk::finished, [&] { walked = true; });
    search->toggleAddAll();
    waitFor([&] { return walked; }, 60000);
    std::fprintf(stderr, "walked: %d\n", walked);
    save(search, out + QStringLiteral("/search.png"));

    search->startAnalysis(AnalysisCommand::All);
    waitFor([&] { return windows.downloadWindow() && search->AnalysisStopped(); }, 30000);
    fFileDownload *downloads = windows.downloadWindow();
    downloads->queue()->changeOptions([](SchedulerOptions &options) {
        options.method = DownloadMethod::Parallel;
        options.threadCount = 3;
    });
    downloads->queue()->start();
    waitFor([&] { return downloads->model()->检测是否下载列表完毕(); }, 60000);
    pause(1500);
    save(downloads, out + QStringLiteral("/download.png"));
    saveFailedRow(downloads, site.homeUrl().resolved(QUrl(QStringLiteral("/files/withdrawn.pdf"))),
                  out + QStringLiteral("/failed-reason.png"));
    saveLoginPanel(downloads, site.loginUrl(), out + QStringLiteral("/login-panel.png"));
    saveVerificationPause(downloads, site, out + QStringLiteral("/verification-pause.png"));
    return 0;
}
