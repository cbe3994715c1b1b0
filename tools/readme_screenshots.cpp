// Opens the program's windows on the demo site, walks the road a user takes (search, add all pages,
// analyse, download) and saves a picture of each main window into the folder given as argument.
#include "app/appwindows.h"
#include "common/messenger.h"
#include "demo/demosite.h"
#include "download/downloadlistmodel.h"
#include "download/downloadscheduler.h"
#include "search/addallwalk.h"
#include "search/candidateanalysis.h"
#include "settings/savelocationchooser.h"
#include "settings/sharedoptions.h"

#include <QComboBox>

#include <QApplication>
#include "common/browserprofile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QEventLoop>
#include <QTimer>
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
    setMessageHandler([](const MessageRequest &request) {
        std::fprintf(stderr, "message: %s\n", qPrintable(request.text));
        return request.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    });
    sharedOptions().loadFromStore();
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
    AppWindows windows(site.homeUrl());
    windows.showStartup();
    pause(500);
    save(windows.startupWindow(), out + QStringLiteral("/startup.png"));

    fWebSearch *search = windows.showSearchWindow();
    windows.startupWindow()->hide();
    search->resize(1100, 760);
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
    downloads->resize(1100, 640);
    downloads->scheduler()->options().method = DownloadMethod::Parallel;
    downloads->scheduler()->options().threadCount = 3;
    downloads->scheduler()->start();
    waitFor([&] { return downloads->model()->检测是否下载列表完毕(); }, 60000);
    pause(1500);
    save(downloads, out + QStringLiteral("/download.png"));
    return 0;
}
