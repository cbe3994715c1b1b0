#include "commonseams.h"
#include "desktop/messageboxes.h"
#include "desktop/shellhelpers.h"
#include "desktop/shelltexteditor.h"
#include "shellseam.h"
#include "testenv.h"

#include <QDir>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QTreeView>

namespace {

// Stands in for the desktop: remembers every request and answers as told.
struct FakeDesktop
{
    QList<QUrl> opened;
    QList<QStringList> started; // program followed by its arguments
    QStringList shown;
    QList<QStringList> dialogs; // title, start folder
    QList<QWidget *> owners;
    bool openUrlWorks = true;
    bool showItemsWorks = true;
    QString folderAnswer; // empty: the dialog is cancelled
    ShellServices previous;

    FakeDesktop()
    {
        previous = ShellSeam::replace({
            [this](const QUrl &url) {
                opened.append(url);
                return openUrlWorks;
            },
            [this](const QString &program, const QStringList &args) {
                started.append(QStringList{program} + args);
                return true;
            },
            [this](const QString &uri) {
                shown.append(uri);
                return showItemsWorks;
            },
            [this](QWidget *owner, const QString &title, const QString &start) {
                owners.append(owner);
                dialogs.append({title, start});
                return folderAnswer;
            },
        });
    }
    ~FakeDesktop() { ShellSeam::replace(previous); }
};

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.path() + u'/' + name; }

private Q_SLOTS:
    void openingAFile()
    {
        FakeDesktop desktop;
        fntest::MessageRecorder recorder;
        OpenWithAssociatedProgram(path(QStringLiteral("missing.pdf")), nullptr);
        QCOMPARE(recorder.texts(), QStringList{QStringLiteral("文件不存在！")});
        QCOMPARE(recorder.messages.first().icon, MessageIcon::Critical);
        QVERIFY(desktop.opened.isEmpty() && desktop.started.isEmpty());

        // A name a shell would act on reaches the opener as one plain argument.
        const QString odd = path(QStringLiteral("a b;$(touch x)'.pdf"));
        fntest::writeFile(odd, "%PDF");
        OpenWithAssociatedProgram(odd, nullptr);
        QCOMPARE(desktop.opened, QList<QUrl>{QUrl::fromLocalFile(odd)});
        QVERIFY(desktop.started.isEmpty());

        desktop.openUrlWorks = false;
        OpenWithAssociatedProgram(odd, nullptr);
        QCOMPARE(desktop.started, (QList<QStringList>{{QStringLiteral("xdg-open"), odd}}));
        QCOMPARE(recorder.messages.size(), 1);
    }

    void showingAFileInItsFolder()
    {
        FakeDesktop desktop;
        QVERIFY(!ShowInFolder(path(QStringLiteral("missing.pdf"))));
        QVERIFY(!ShowInFolder(m_dir.path())); // a folder is not a file
        QVERIFY(desktop.shown.isEmpty());

        const QString file = path(QStringLiteral("论文 1.pdf"));
        fntest::writeFile(file, "%PDF");
        QVERIFY(ShowInFolder(QStringLiteral("  ") + file + QStringLiteral(" ")));
        QCOMPARE(desktop.shown.size(), 1);
        QCOMPARE(QUrl(desktop.shown.first()).toLocalFile(), file);
        QVERIFY(desktop.shown.first().contains(QStringLiteral("%20")));

        desktop.showItemsWorks = false;
        QVERIFY(!ShowInFolder(file));
    }

    void browsingForAFolder()
    {
        FakeDesktop desktop;
        const QString home = QDir::homePath() + u'/';
        const QString papers = path(QStringLiteral("papers/"));
        QVERIFY(QDir().mkpath(papers + QStringLiteral("2014")));

        QCOMPARE(FolderToPreselect(QStringLiteral("   ")), home);
        QCOMPARE(FolderToPreselect(papers + QStringLiteral("2014/")), papers);
        QCOMPARE(FolderToPreselect(papers + QStringLiteral("2014")), papers);
        QCOMPARE(FolderToPreselect(QStringLiteral("/no-such-drive/x/")), home);
        QCOMPARE(FolderToPreselect(QStringLiteral("relative/x")), home);
        QCOMPARE(FolderToPreselect(QStringLiteral("/")), QStringLiteral("/"));

        QWidget owner;
        const QString start = path(QStringLiteral("x"));
        QCOMPARE(BrowseForFolder(&owner, start, QStringLiteral("请选择要浏览的文件夹:")), start + u'/');
        QCOMPARE(desktop.dialogs.first(),
                 (QStringList{QStringLiteral("请选择要浏览的文件夹:"), m_dir.path() + u'/'}));
        QCOMPARE(desktop.owners.first(), &owner);

        desktop.folderAnswer = papers + QStringLiteral("2014");
        QCOMPARE(BrowseForFolder(&owner, start, QString()), papers + QStringLiteral("2014/"));
        desktop.folderAnswer = QStringLiteral("/");
        QCOMPARE(BrowseForFolder(&owner, start, QString()), QStringLiteral("/"));
    }

    void openingWebPages()
    {
        FakeDesktop desktop;
        OpenWebPage(QStringLiteral("https://example.org/folionexus/"), true);
        OpenWebPage(QStringLiteral(" http://example.org/a "), false);
        OpenWebPage(QStringLiteral("file:///etc/passwd"), true);
        OpenWebPage(QStringLiteral("javascript:alert(1)"), false);
        OpenWebPage(QString(), false);
        QCOMPARE(desktop.opened, (QList<QUrl>{QUrl(QStringLiteral("https://example.org/folionexus/")),
                                              QUrl(QStringLiteral("http://example.org/a"))}));
    }

    // Without a browser, or when neither the desktop nor xdg-open takes the address, the user is told
    // and given the address; nothing is opened.
    void aWebPageWithoutABrowserShowsItsAddress()
    {
        fntest::MessageRecorder recorder;
        const QString address = QStringLiteral("https://www.folionexus.com/download/");
        {
            FakeDesktop desktop;
            ShellServices none = shellServices();
            none.webBrowserAvailable = [] { return false; };
            const ShellServices fake = ShellSeam::replace(none);
            OpenWebPage(address, true);
            QVERIFY(desktop.opened.isEmpty());
            QVERIFY(desktop.started.isEmpty());
            ShellSeam::replace(fake);

            desktop.openUrlWorks = false;
            OpenWebPage(address, true); // the desktop refuses; xdg-open is the second try
            QCOMPARE(desktop.started.size(), 1);
        }
        QCOMPARE(recorder.texts(), QStringList{NoBrowserMessage(address)});
        QVERIFY(recorder.texts().first().endsWith(address));
    }

    void loadedWindowsByNameIgnoringCase()
    {
        auto *window = new QWidget;
        window->setObjectName(QStringLiteral("fFileDownload"));
        auto *child = new QWidget(window);
        child->setObjectName(QStringLiteral("fWebSearch"));
        QVERIFY(IsFormLoaded(QStringLiteral("ffileDownLoad")));
        QVERIFY(IsFormLoaded(QStringLiteral("FfileDownLoad")));
        QCOMPARE(LoadedForm(QStringLiteral("FFILEDOWNLOAD")), window);
        QVERIFY(!IsFormLoaded(QStringLiteral("fWebSearch"))); // only windows count, not their controls
        QVERIFY(!IsFormLoaded(QStringLiteral("fFileDownload2")));
        delete window;
        QVERIFY(!IsFormLoaded(QStringLiteral("fFileDownload")));

        QPointer<QObject> slot(new QObject);
        QVERIFY(IsObjectAlive(slot));
        delete slot.data();
        QVERIFY(!IsObjectAlive(slot));
    }

    void rowStripes()
    {
        QStandardItemModel model(6, 2);
        model.setData(model.index(0, 0), QStringLiteral("论文标题 Paper"));
        QTreeView tree;
        tree.setModel(&model);
        tree.resize(300, 200);
        // A band taller than the font needs sets the row height.
        ApplyRowStripes(&tree, 40);
        tree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tree));
        QCOMPARE(tree.visualRect(model.index(0, 0)).height(), 40);
        QCOMPARE(tree.visualRect(model.index(1, 0)).top(), tree.visualRect(model.index(0, 0)).top() + 40);
        QVERIFY(tree.alternatingRowColors());
        QCOMPARE(tree.palette().color(QPalette::Base), QColor(231, 248, 237));
        QCOMPARE(tree.palette().color(QPalette::AlternateBase), QColor(Qt::white));

        // The first row is drawn in the green band.
        const QImage shot = tree.viewport()->grab().toImage();
        QCOMPARE(QColor(shot.pixel(tree.viewport()->width() - 3, 5)), QColor(231, 248, 237));
        QCOMPARE(QColor(shot.pixel(tree.viewport()->width() - 3, 40 + 5)), QColor(Qt::white));

        // Called again on every resize: the height follows, the delegate is not stacked. A band lower
        // than a line of text gives the row the text's height, so no row is clipped.
        QAbstractItemDelegate *delegate = tree.itemDelegate();
        ApplyRowStripes(&tree, 13);
        QCOMPARE(tree.itemDelegate(), delegate);
        const int textRow = StripeRowHeight(&tree, 13);
        QVERIFY(textRow >= tree.fontMetrics().height());
        QVERIFY(textRow >= 13);
        QTRY_COMPARE(tree.visualRect(model.index(0, 0)).height(), textRow);
        QCOMPARE(tree.visualRect(model.index(3, 0)).height(), textRow); // empty rows too
        QCOMPARE(StripeRowHeight(&tree, textRow + 3), textRow + 3);

        // A larger font makes taller rows, whatever band was asked for.
        QFont large = tree.font();
        large.setPointSize(large.pointSize() * 3);
        tree.setFont(large);
        ApplyRowStripes(&tree, 13);
        QTRY_VERIFY(tree.visualRect(model.index(0, 0)).height() >= QFontMetrics(large).height());
        QCOMPARE(tree.visualRect(model.index(0, 0)).height(), StripeRowHeight(&tree, 13));

        QTableView table;
        table.setModel(&model);
        ApplyRowStripes(&table, 13);
        QCOMPARE(table.verticalHeader()->defaultSectionSize(), StripeRowHeight(&table, 13));
        QCOMPARE(table.rowHeight(3), StripeRowHeight(&table, 13));
        ApplyRowStripes(&table, 50);
        QCOMPARE(table.rowHeight(3), 50);

        // A view that draws its rows with a delegate of its own keeps it.
        QTreeView custom;
        struct OwnDelegate : QStyledItemDelegate
        {
            using QStyledItemDelegate::QStyledItemDelegate;
        };
        auto *mine = new OwnDelegate(&custom);
        custom.setItemDelegate(mine);
        ApplyRowStripes(&custom, 17);
        QCOMPARE(custom.itemDelegate(), mine);
    }

    void desktopEntriesOfTheTextEditor_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QStringList>("expected");
        const QString f = QStringLiteral("/tmp/a b.pdf");
        QTest::newRow("%U becomes the file")
            << QByteArray("[Desktop Entry]\nExec=gedit %U\n") << QStringList{"gedit", f};
        QTest::newRow("quoted program with options")
            << QByteArray("[Desktop Entry]\nName=Ed\nExec=\"/opt/My Editor/ed\" --new-window %f\n")
            << QStringList{"/opt/My Editor/ed", "--new-window", f};
        QTest::newRow("icon and caption codes dropped")
            << QByteArray("[Desktop Entry]\nExec=kwrite %i %c %F\n") << QStringList{"kwrite", f};
        QTest::newRow("no file code: the file is added")
            << QByteArray("[Desktop Entry]\nExec=mousepad\n") << QStringList{"mousepad", f};
        QTest::newRow("escaped percent stays") << QByteArray("[Desktop Entry]\nExec=ed --ratio=50%% %f\n")
                                               << QStringList{"ed", "--ratio=50%", f};
        QTest::newRow("other groups are not read")
            << QByteArray("[Desktop Action new]\nExec=other %f\n[Desktop Entry]\nExec=xed %U\n")
            << QStringList{"xed", f};
        QTest::newRow("terminal editors are not started")
            << QByteArray("[Desktop Entry]\nExec=vim %F\nTerminal=true\n") << QStringList();
        QTest::newRow("no Exec line") << QByteArray("[Desktop Entry]\nName=x\n") << QStringList();
    }

    void desktopEntriesOfTheTextEditor()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QStringList, expected);
        QCOMPARE(DesktopExecCommand(entry, QStringLiteral("/tmp/a b.pdf")), expected);
    }

    void defaultTextEditorOfTheUser()
    {
        QCOMPARE(DefaultDesktopIds("[Added Associations]\ntext/plain=no.desktop\n[Default Applications]\n"
                                   "text/html=web.desktop\ntext/plain=missing.desktop;my-editor.desktop;\n",
                                   QStringLiteral("text/plain")),
                 (QStringList{"missing.desktop", "my-editor.desktop"}));

        const QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
        const QString apps =
            QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + QStringLiteral("/applications");
        QVERIFY(QDir().mkpath(apps));
        const QString program = path(QStringLiteral("my-editor"));
        fntest::writeFile(program, "#!/bin/sh\n");
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        fntest::writeFile(config + QStringLiteral("/mimeapps.list"),
                          "[Default Applications]\ntext/plain=missing.desktop;my-editor.desktop\n");
        fntest::writeFile(apps + QStringLiteral("/my-editor.desktop"),
                          "[Desktop Entry]\nType=Application\nExec=" + program.toUtf8() + " --file %f\n");

        FakeDesktop desktop;
        const QString file = path(QStringLiteral("list.htm"));
        QCOMPARE(TextEditorCommand(file), (QStringList{program, QStringLiteral("--file"), file}));
        openInTextEditor(file);
        QCOMPARE(desktop.started, (QList<QStringList>{{program, QStringLiteral("--file"), file}}));
        QVERIFY(desktop.opened.isEmpty()); // never left to the file's own type
        QFile::remove(config + QStringLiteral("/mimeapps.list"));
    }

    void messageBoxesCarryTheTitle()
    {
        installMessageBoxes();
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int buttons = 0;
        auto answer = [&](QMessageBox::StandardButton press) {
            QTimer::singleShot(0, this, [&, press] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                QVERIFY(box);
                caption = box->windowTitle();
                text = box->text();
                icon = box->icon();
                buttons = box->buttons().size();
                box->button(press)->click();
            });
        };
        answer(QMessageBox::No);
        QVERIFY(!askYesNo(MessageIcon::Question, QStringLiteral("要强制关闭窗口吗？")));
        QCOMPARE(caption, kAppTitle);
        QCOMPARE(text, QStringLiteral("要强制关闭窗口吗？"));
        QCOMPARE(icon, QMessageBox::Question);
        QCOMPARE(buttons, 2);

        answer(QMessageBox::Yes);
        QVERIFY(askYesNo(MessageIcon::Question, QStringLiteral("?")));

        answer(QMessageBox::Ok);
        QCOMPARE(showMessage(MessageIcon::None, QStringLiteral("此时系统信息不可用")), MessageAnswer::Ok);
        QCOMPARE(icon, QMessageBox::NoIcon);
        QCOMPARE(buttons, 1);
        answer(QMessageBox::Ok);
        showMessage(MessageIcon::Critical, QStringLiteral("x"));
        QCOMPARE(icon, QMessageBox::Critical);
        MessageSeam::replace({});
    }
};

FN_TEST_MAIN_GUI(TestShell)
#include "tst_shell.moc"
