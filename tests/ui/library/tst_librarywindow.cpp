// The library window over a real library: its columns, the search box, a paper's details and first
// page, the check of the files, papers held twice, a library written meanwhile or locked, and the ways
// in from the download window.
#include "core/librarymodel/librarytablemodel.h"
#include "core/pdf/pdfchecker.h"
#include "core/settings/settingsstore.h"
#include "libraryuifixture.h"
#include "testrun.h"
#include "ui/downloadwindow.h"
#include "ui/library/duplicatesdialog.h"
#include "ui/library/librarycolumns.h"
#include "ui/library/librarydetailspane.h"
#include "ui/library/librarytexts.h"
#include "ui/library/librarywindow.h"
#include "ui/library/pagepreview.h"

#include <QAction>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTreeWidget>

using namespace fntest;

namespace {

// The window over the fixture's library, its table read.
std::unique_ptr<LibraryWindow> windowOver(LibraryUiFixture &lib, PdfChecker *checker = nullptr)
{
    auto window = std::make_unique<LibraryWindow>(lib.writer, checker, LibraryCommands::Hooks{});
    QSignalSpy loaded(window->model(), &LibraryTableModel::loaded);
    if (!loaded.wait(5000))
        return nullptr;
    return window;
}

int rowOf(const LibraryTableModel &model, const QString &address)
{
    for (int row = 0; row < model.rowCount(); ++row) {
        const std::optional<LibraryRow> read = model.rowAt(row);
        if (read && read->address == address)
            return row;
    }
    return -1;
}

QString cell(const LibraryTableModel &model, const QString &address, LibraryColumn column)
{
    const int row = rowOf(model, address);
    return row < 0 ? QString() : model.index(row, static_cast<int>(column)).data().toString();
}

} // namespace

class TestLibraryWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<LibraryUiFixture> m_lib;
    std::unique_ptr<PdfChecker> m_checker;

private Q_SLOTS:
    void initTestCase() { m_checker = std::make_unique<PdfChecker>(QStringLiteral(FOLIONEXUS_PDFCHECK_EXE)); }

    void init()
    {
        m_lib = std::make_unique<LibraryUiFixture>();
        QVERIFY(m_lib->ok());
    }

    void cleanup() { m_lib.reset(); }

    void hiddenColumnsAreRememberedAndTheTitleAlwaysShows()
    {
        QCOMPARE(hiddenColumnsFromText(QStringLiteral("7, 3,x,3,0,-1,10,99")), (QList<int>{3, 7}));
        QCOMPARE(hiddenColumnsText({9, 0, 4, 4}), QStringLiteral("4,9"));
        QVERIFY(m_lib->paper("http://s/a", QStringLiteral("甲")));
        {
            const auto window = windowOver(*m_lib);
            QVERIFY(window);
            window->setColumnShown(static_cast<int>(LibraryColumn::Doi), false);
            window->setColumnShown(static_cast<int>(LibraryColumn::Size), false);
            window->setColumnShown(static_cast<int>(LibraryColumn::Title), false);
            window->setColumnShown(static_cast<int>(LibraryColumn::Size), true);
            QVERIFY(!window->table()->isColumnHidden(static_cast<int>(LibraryColumn::Title)));
        }
        QCOMPARE(ReadSetting(settingkeys::LibraryHiddenColumns), QStringLiteral("4"));
        const auto again = windowOver(*m_lib);
        QVERIFY(again);
        QVERIFY(again->table()->isColumnHidden(static_cast<int>(LibraryColumn::Doi)));
        QVERIFY(!again->table()->isColumnHidden(static_cast<int>(LibraryColumn::Size)));
        again->setColumnShown(static_cast<int>(LibraryColumn::Doi), true);
        QCOMPARE(ReadSetting(settingkeys::LibraryHiddenColumns), QString());
    }

    void theSearchBoxFiltersAfterTypingPausesAndSortsByAnyColumn()
    {
        QList<SeenPaper> seen;
        for (int i = 0; i < 450; ++i)
            seen.append(seenPaper(
                QStringLiteral("http://s/%1").arg(i), QStringLiteral("论文 %1").arg(i, 3, 10, QChar(u'0')),
                paperCells(i == 7 || i == 160 || i == 313 ? QStringLiteral("钱学森") : QStringLiteral("某人"),
                           QString::number(1990 + i % 30), QStringLiteral("期刊"))));
        QVERIFY(m_lib->writer.recordSeen(seen));
        const auto window = windowOver(*m_lib);
        QVERIFY(window);
        QCOMPARE(window->model()->rowCount(), 450);
        QSignalSpy loaded(window->model(), &LibraryTableModel::loaded);
        window->searchBox()->setText(QStringLiteral("钱学"));
        window->searchBox()->setText(QStringLiteral("钱学森"));
        QCOMPARE(window->model()->query().filter, QString()); // not yet: typing goes on
        QVERIFY(loaded.wait(5000));
        QCOMPARE(loaded.size(), 1); // one read for what was typed in one go
        QCOMPARE(window->model()->rowCount(), 3);
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("lblLibraryCount"))->text(),
                 QStringLiteral("共 3 篇"));

        window->table()->sortByColumn(static_cast<int>(LibraryColumn::Year), Qt::DescendingOrder);
        QVERIFY(loaded.wait(5000));
        QCOMPARE(window->model()->query().sortColumn, LibraryColumn::Year);
        QCOMPARE(window->model()->rowAt(0)->year, QStringLiteral("2003")); // paper 313
        QCOMPARE(window->model()->rowAt(2)->year, QStringLiteral("1997")); // paper 7
        QCOMPARE(window->model()->rowAt(1)->title, QStringLiteral("论文 160"));
        window->searchBox()->clear();
        QVERIFY(loaded.wait(5000));
        QCOMPARE(window->model()->rowCount(), 450);
    }

    void detailsAndTextsFromPagesArePlainText()
    {
        const QString hostile = QStringLiteral("<b>粗体</b>\u202Efdp.exe\n第二行<img src=x>");
        PaperCells cells = paperCells(QStringLiteral("<i>作者</i>"), QStringLiteral("2019"),
                                      QStringLiteral("学报"), QStringLiteral("10.1000/d"));
        cells.append({QStringLiteral("卷"), QStringLiteral("12")});
        QVERIFY(m_lib->paper("http://user:secret@s/p.pdf", hostile, cells));
        QVERIFY(m_lib->writer.recordDownloads({failedAt("http://s/p.pdf", QStringLiteral("服务器返回404"))}));
        const auto window = windowOver(*m_lib);
        QVERIFY(window);
        QCOMPARE(window->model()->rowCount(), 1);
        QSignalSpy shown(window->details(), &LibraryDetailsPane::shown);
        window->table()->setCurrentIndex(window->model()->index(0, 0));
        QVERIFY(shown.wait(5000));
        const QString text = window->details()->text()->toPlainText();
        QVERIFY2(text.contains(QStringLiteral("标题：<b>粗体</b> fdp.exe 第二行<img src=x>")),
                 qPrintable(text));
        QVERIFY(!text.contains(QChar(0x202E)));
        QVERIFY(text.contains(QStringLiteral("作者：<i>作者</i>")));
        QVERIFY(text.contains(QStringLiteral("DOI：10.1000/d")));
        QVERIFY(text.contains(QStringLiteral("卷：12")));
        QVERIFY(text.contains(QStringLiteral("状态：未下载")));
        QVERIFY(text.contains(QStringLiteral("http://s/results?page=1")));
        QVERIFY(text.contains(QStringLiteral("失败：服务器返回404")));
        QVERIFY(!text.contains(QStringLiteral("secret")));
        QVERIFY(window->details()->text()->isReadOnly());
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("lblLibraryStatus"))->textFormat(),
                 Qt::PlainText);

        QCOMPARE(shownLine(QStringLiteral(" a\tb\r\n\u2066c\u2069 ")), QStringLiteral("a b c"));
        QCOMPARE(citationText(PaperMetadata{QStringLiteral("标题"), {}}), QStringLiteral("标题."));
        const PaperMetadata conference{QStringLiteral("会议论文"),
                                       {{QStringLiteral("作者"), QStringLiteral("甲")},
                                        {QStringLiteral("年份"), QStringLiteral("2018")},
                                        {QStringLiteral("会议"), QStringLiteral("第十届全国会议")}}};
        QCOMPARE(citationText(conference), QStringLiteral("甲. 会议论文[C]. 第十届全国会议, 2018."));
    }

    void thePreviewIsTheFirstPageOfAHeldPdf()
    {
        const QString pdf = m_lib->file(QStringLiteral("p.pdf"), wholePdf(5000));
        const QString text = m_lib->file(QStringLiteral("n.pdf"), "not a PDF, only its name says so");
        QVERIFY(m_lib->paper("http://s/a", QStringLiteral("a"), {}, pdf));
        QVERIFY(m_lib->paper("http://s/b", QStringLiteral("b"), {}, text));
        const auto window = windowOver(*m_lib);
        QVERIFY(window);
        QSignalSpy preview(window->details(), &LibraryDetailsPane::previewShown);
        window->table()->setCurrentIndex(window->model()->index(rowOf(*window->model(), "http://s/a"), 0));
        QVERIFY(preview.wait(10000));
        QCOMPARE(preview.at(0).at(0).toBool(), true);
        const QPixmap page = window->details()->preview()->pixmap();
        QVERIFY(page.width() <= LibraryDetailsPane::kPreviewWidth);
        QVERIFY(page.height() <= LibraryDetailsPane::kPreviewWidth * PagePreview::kPageProportion + 1);
        QVERIFY(page.width() == LibraryDetailsPane::kPreviewWidth ||
                page.height() >= int(LibraryDetailsPane::kPreviewWidth * PagePreview::kPageProportion));
        // Something was drawn: the page is not blank white.
        const QImage pixels = page.toImage();
        bool inked = false;
        for (int y = 0; y < pixels.height() && !inked; y += 2)
            for (int x = 0; x < pixels.width() && !inked; ++x)
                inked = qGray(pixels.pixel(x, y)) < 128;
        QVERIFY(inked);
        window->table()->setCurrentIndex(window->model()->index(rowOf(*window->model(), "http://s/b"), 0));
        QVERIFY(preview.wait(10000));
        QCOMPARE(preview.at(1).at(0).toBool(), false);
        QCOMPARE(window->details()->preview()->text(), QStringLiteral("无预览"));
        QVERIFY(renderFirstPage(pdf, 0).isNull());
    }

    void theCheckOfTheFilesShowsMovedChangedAndDamagedOnes()
    {
        const QByteArray whole = wholePdf(6000);
        const QString good = m_lib->file(QStringLiteral("good.pdf"), whole);
        const QString moved = m_lib->file(QStringLiteral("moved.pdf"), wholePdf(6100));
        const QString changed = m_lib->file(QStringLiteral("changed.pdf"), wholePdf(6200));
        const QString cut = m_lib->file(QStringLiteral("cut.pdf"), whole.left(whole.size() / 2));
        for (const QString &path : {good, moved, changed, cut})
            QVERIFY(
                m_lib->paper("http://s/" + QFileInfo(path).fileName(), QFileInfo(path).baseName(), {}, path));
        const auto window = windowOver(*m_lib, m_checker.get());
        QVERIFY(window);
        QCOMPARE(cell(*window->model(), "http://s/moved.pdf", LibraryColumn::State),
                 QStringLiteral("已下载"));
        QVERIFY(QFile::rename(moved, moved + ".elsewhere"));
        writeFile(changed, wholePdf(6300));

        QSignalSpy finished(window.get(), &LibraryWindow::checkFinished);
        QSignalSpy loaded(window->model(), &LibraryTableModel::loaded);
        QVERIFY(window->startCheck());
        QVERIFY(!window->startCheck()); // one at a time
        QVERIFY(window->checkProgress()->isVisibleTo(window.get()));
        QVERIFY(finished.wait(60000));
        QVERIFY(loaded.wait(5000));
        QCOMPARE(window->checkProgress()->maximum(), 4);
        QCOMPARE(window->checkProgress()->value(), 4);
        QVERIFY(!window->checkProgress()->isVisibleTo(window.get()));
        const LibraryTableModel &model = *window->model();
        QCOMPARE(cell(model, "http://s/good.pdf", LibraryColumn::State), QStringLiteral("已下载"));
        QCOMPARE(cell(model, "http://s/moved.pdf", LibraryColumn::State), QStringLiteral("文件缺失"));
        QCOMPARE(cell(model, "http://s/changed.pdf", LibraryColumn::State), QStringLiteral("文件已损坏"));
        QCOMPARE(cell(model, "http://s/cut.pdf", LibraryColumn::State), QStringLiteral("文件已损坏"));
        QCOMPARE(window->statusText(),
                 QStringLiteral("检查完毕：共 4 个文件，缺失 1 个，已损坏或被改动 2 个。"));
    }

    void aLibraryWrittenElsewhereIsShownFreshWhenTheWindowIsActivated()
    {
        QVERIFY(m_lib->paper("http://s/a", QStringLiteral("甲")));
        const auto window = windowOver(*m_lib);
        QVERIFY(window);
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(m_lib->paper("http://s/b", QStringLiteral("乙"))); // another connection writes meanwhile
        QCOMPARE(window->model()->rowCount(), 1);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTRY_COMPARE(window->model()->rowCount(), 2);
    }

    void papersHeldTwiceAreGroupedByDoiAndByContent()
    {
        const QByteArray same = wholePdf(4200);
        const QString a = m_lib->file(QStringLiteral("x/a.pdf"), same);
        const QString b = m_lib->file(QStringLiteral("y/b.pdf"), same);
        const QString c = m_lib->file(QStringLiteral("x/c.pdf"), wholePdf(4300));
        const QString d = m_lib->file(QStringLiteral("y/d.pdf"), wholePdf(4400));
        const PaperCells doi = paperCells(QStringLiteral("甲"), QStringLiteral("2020"), QStringLiteral("刊"),
                                          QStringLiteral("10.1000/same"));
        QVERIFY(m_lib->paper("http://s/a", QStringLiteral("内容相同一"), {}, a));
        QVERIFY(m_lib->paper("http://s/b", QStringLiteral("内容相同二"), {}, b));
        QVERIFY(m_lib->paper("http://one/c", QStringLiteral("同一DOI"), doi, c));
        QVERIFY(m_lib->paper("http://two/d", QStringLiteral("同一DOI"), doi, d));
        const auto window = windowOver(*m_lib);
        QVERIFY(window);
        window->showDuplicates();
        auto *dialog = window->findChild<DuplicatesDialog *>();
        QVERIFY(dialog);
        QSignalSpy loaded(dialog, &DuplicatesDialog::loaded);
        QVERIFY(loaded.wait(5000));
        QCOMPARE(loaded.at(0).at(0).toInt(), 2);
        QTreeWidget *tree = dialog->tree();
        QCOMPARE(tree->topLevelItemCount(), 2);
        QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("同一DOI：10.1000/same"));
        QVERIFY(tree->topLevelItem(1)->text(0).startsWith(QStringLiteral("同一内容（SHA-256）：")));
        for (int i = 0; i < 2; ++i)
            QCOMPARE(tree->topLevelItem(i)->childCount(), 2);
        QVERIFY(!dialog->keepChosen()); // a group is no paper

        // The same content kept once, the other copy deleted: one group is left.
        QTreeWidgetItem *first = tree->topLevelItem(1)->child(0);
        const QString keptFile = first->text(1);
        tree->setCurrentItem(first);
        dialog->deleteFreed()->setChecked(true);
        QVERIFY(dialog->keepChosen());
        QVERIFY(loaded.wait(5000));
        QCOMPARE(loaded.at(1).at(0).toInt(), 1);
        QCOMPARE(tree->topLevelItemCount(), 1);
        QCOMPARE(QFileInfo::exists(a) + QFileInfo::exists(b), 1);
        QVERIFY(QFileInfo::exists(keptFile));
        QCOMPARE(m_lib->writer.heldFile("http://s/a")->filePath, keptFile);
        QCOMPARE(m_lib->writer.heldFile("http://s/b")->filePath, keptFile);
    }

    void aLockedLibraryIsToldInTheLibrarysOwnWords()
    {
        QVERIFY(m_lib->paper("http://s/a", QStringLiteral("甲")));
        m_lib->writer.setBusyTimeoutMs(300);
        const auto window = windowOver(*m_lib);
        QVERIFY(window);
        QSqlDatabase locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
        locker.setDatabaseName(m_lib->path());
        QVERIFY(locker.open());
        QSqlQuery lock(locker);
        QVERIFY(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
        QSignalSpy failed(window->commands(), &LibraryCommands::failed);
        LibrarySelection one;
        one.rows = {0};
        one.known = {QStringLiteral("http://s/a")};
        window->commands()->remove(one, false);
        QVERIFY(failed.wait(10000));
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        lock = QSqlQuery();
        locker.close();
        locker = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("locker"));
        QVERIFY(window->statusText().startsWith(QStringLiteral("文献资料库正被另一个正在运行的本程序使用")));
        QCOMPARE(m_lib->writer.paperCount(), 1);
    }

    void theDownloadWindowOffersTheLibraryByButtonAndMenu()
    {
        runObjects().library = &m_lib->writer;
        fFileDownload window(runObjects());
        QSignalSpy asked(&window, &fFileDownload::libraryWindowRequested);
        auto *button = window.findChild<QPushButton *>(QStringLiteral("CommandLibrary"));
        QVERIFY(button);
        QCOMPARE(button->text(), QStringLiteral("文献库"));
        button->click();
        window.action(QStringLiteral("actLibrary"))->trigger();
        QCOMPARE(asked.size(), 2);
        runObjects().library = nullptr;
    }
};

FN_TEST_MAIN_GUI(TestLibraryWindow)
#include "tst_librarywindow.moc"
