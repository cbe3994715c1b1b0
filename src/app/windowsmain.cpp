// The windows program. Started without options it shows the startup window first and loads the part
// that needs the browser engine (a module beside it, whose libraries take several times as long to load
// as the window takes to show) once the window is on screen; any other command line goes to the module
// at once, which reads it before any window shows.
#include "app/qtlanguage.h"
#include "app/windowsstart.h"
#include "ui/startupwindow.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QPointer>
#include <QTimer>
#include <cstdio>
#include <dlfcn.h>
#include <sys/prctl.h>

namespace {

QtMessageHandler g_earlierHandler = nullptr;

void withoutLateAttributeNote(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!message.contains(QLatin1String("must be set before QCoreApplication is created")))
        g_earlierHandler(type, context, message);
}

// The browser engine draws through OpenGL contexts that share with one another, and asks for that
// before it is loaded. Asked for with the application object, Qt would make the shared context (and
// load the graphics driver) then and hold the startup window up; the module makes it once the window
// shows. Qt notes that the attribute is set late, which here is meant.
void shareGraphicsContexts()
{
    g_earlierHandler = qInstallMessageHandler(withoutLateAttributeNote);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    qInstallMessageHandler(g_earlierHandler);
}

// The engine's part, loaded into the program for the rest of its run (never unloaded).
void *loadModule()
{
    void *module = ::dlopen(QFile::encodeName(windowsstart::modulePath()).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        std::fprintf(stderr, "folionexus: the windows' module could not be loaded: %s\n", ::dlerror());
    return module;
}

template <typename Entry> Entry entry(void *module, const char *name)
{
    Entry found = module ? reinterpret_cast<Entry>(::dlsym(module, name)) : nullptr;
    if (module && !found)
        std::fprintf(stderr, "folionexus: the windows' module has no %s\n", name);
    return found;
}

// The whole program from the module, with the command line as it came.
int runFromModule(int argc, char **argv)
{
    void *module = loadModule();
    const auto windowless = entry<windowsstart::WindowlessEntry>(module, "folionexus_windowless");
    const auto windows = entry<windowsstart::MainEntry>(module, "folionexus_windows_main");
    if (!windowless || !windows)
        return 1;
    const int status = windowless(argc, argv);
    return status >= 0 ? status : windows(argc, argv);
}

// Loads the module once the startup window has been painted (or after a short while when the window
// system never asks for a paint), and begins the windows' run on it.
class ModuleAfterPaint : public QObject
{
public:
    explicit ModuleAfterPaint(fCover *cover) : m_cover(cover)
    {
        cover->installEventFilter(this);
        QTimer::singleShot(kLongestWaitMs, this, [this] { begin(); });
    }
    void *run() const { return m_run; }
    windowsstart::EndEntry end() const { return m_end; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // After this paint has been handled, not in it.
        if (watched == m_cover && event->type() == QEvent::Paint)
            QTimer::singleShot(0, this, [this] { begin(); });
        return false;
    }

private:
    static constexpr int kLongestWaitMs = 200;

    void begin()
    {
        if (m_begun || !m_cover)
            return;
        m_begun = true;
        m_cover->removeEventFilter(this);
        shareGraphicsContexts();
        void *module = loadModule();
        const auto begin = entry<windowsstart::BeginEntry>(module, "folionexus_windows_begin");
        m_end = entry<windowsstart::EndEntry>(module, "folionexus_windows_end");
        m_run = begin && m_end ? begin(m_cover) : nullptr;
        if (!m_run)
            QCoreApplication::exit(1);
    }

    const QPointer<fCover> m_cover;
    bool m_begun = false;
    void *m_run = nullptr;
    windowsstart::EndEntry m_end = nullptr;
};

} // namespace

int main(int argc, char **argv)
{
    // Started by folionexus in its place: the process keeps the name it is known by.
    ::prctl(PR_SET_NAME, "folionexus", 0, 0, 0);
    if (argc > 1)
        return runFromModule(argc, argv);
    if (!windowsstart::hasDisplay())
        return 1;
    windowsstart::prepareBrowserEnvironment();
    quietBrowserEngineLog();
    QApplication app(argc, argv);
    installQtTranslations();
    windowsstart::nameApplication();
    // The windows' run takes the startup window over; until then it is this program's, and closing it
    // ends the program as it does later.
    const QPointer<fCover> cover = new fCover;
    cover->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(cover, &QObject::destroyed, qApp, &QCoreApplication::quit);
    cover->show();
    ModuleAfterPaint module(cover);
    const int status = QApplication::exec();
    if (module.run())
        module.end()(module.run());
    else
        delete cover.data();
    return status;
}
