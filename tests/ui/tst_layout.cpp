#include "core/library/linkimport.h"
#include "core/search/candidatelistmodel.h"
#include "desktop/shellhelpers.h"
#include "testenv.h"
#include "testrun.h"
#include "ui/appwindows.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTreeView>

namespace {

// Why a control is cut off by an edge of a container or cannot show its whole text; empty when neither.
QString layoutFault(QWidget *window, QWidget *control)
{
    const QString name = control->objectName();
    for (QWidget *w = control; w != window; w = w->parentWidget()) {
        if (!w->parentWidget()->rect().contains(
                QRect(control->mapTo(w->parentWidget(), QPoint()), control->size())))
            return name + QStringLiteral(" leaves ") + w->parentWidget()->objectName();
    }
    const QFontMetrics fm = control->fontMetrics();
    QStyle *style = control->style();
    if (auto *button = qobject_cast<QPushButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        const QRect text = style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        if (text.width() < fm.horizontalAdvance(button->text()) || text.height() < fm.height())
            return name + QStringLiteral(" cuts ") + button->text();
    } else if (auto *box = qobject_cast<QComboBox *>(control)) {
        QStyleOptionComboBox option;
        option.initFrom(box);
        const QRect field =
            style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box);
        for (int i = 0; i < box->count(); ++i)
            if (field.width() < fm.horizontalAdvance(box->itemText(i)))
                return name + QStringLiteral(" cuts ") + box->itemText(i);
        const QRect arrow =
            style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, box);
        if (arrow.isEmpty() || !box->rect().contains(arrow))
            return name + QStringLiteral(" has no arrow");
    } else {
        auto *label = qobject_cast<QLabel *>(control);
        auto *check = qobject_cast<QAbstractButton *>(control);
        const QString text = label ? label->text() : check ? check->text() : QString();
        if (!text.isEmpty() &&
            (control->width() < control->sizeHint().width() || control->height() < fm.height()))
            return QStringLiteral("%1 is %2 wide for %3").arg(name).arg(control->width()).arg(text);
    }
    return {};
}

QString layoutFaults(QWidget *window, const QList<const char *> &names)
{
    QStringList faults;
    for (const char *name : names) {
        auto *control = window->findChild<QWidget *>(QLatin1String(name));
        const QString fault =
            control ? layoutFault(window, control) : QLatin1String(name) + QStringLiteral(" missing");
        if (!fault.isEmpty())
            faults << fault;
    }
    return faults.isEmpty()
               ? QString()
               : QStringLiteral("%1x%2: ").arg(window->width()).arg(window->height()) + faults.join(u'\n');
}

// Rows that fit wholly in the list's viewport.
int wholeRows(QTreeView *list)
{
    const int row = list->sizeHintForRow(0);
    return row > 0 ? list->viewport()->height() / row : 0;
}

// With FN_SHOT_DIR set, the window as drawn.
void shoot(QWidget *window, const QString &name)
{
    const QString dir = qEnvironmentVariable("FN_SHOT_DIR");
    if (!dir.isEmpty())
        window->grab().save(dir + u'/' + name + QStringLiteral(".png"));
}

void showAt(QWidget *window, QSize size)
{
    window->resize(size);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

// The windows at their default and least sizes: every control inside, every text whole.
class TestLayout : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<AppWindows> m_windows;

private Q_SLOTS:
    void init()
    {
        fntest::writeFile(m_dir.path() + QStringLiteral("/index.html"), "<html><body>home</body></html>");
        m_windows =
            std::make_unique<AppWindows>(QUrl::fromLocalFile(m_dir.path() + QStringLiteral("/index.html")),
                                         TestOptions::store(), fntest::siteRules());
    }

    void cleanup() { m_windows.reset(); }

    void startupWindowComesBackWhereItWasWhollyOnScreen()
    {
        fCover *cover = m_windows->startupWindow();
        m_windows->showStartup();
        QVERIFY(QTest::qWaitForWindowExposed(cover));
        const QString fault = layoutFaults(cover, {"Label1", "batchButton", "quitButton"});
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        const QRect screen = cover->screen()->availableGeometry();

        // The road of the report: the search window opens, the download and then the search window close.
        const QPoint place = screen.topLeft() + QPoint(30, 20);
        cover->move(place);
        QTRY_VERIFY(cover->batchButton->isEnabled());
        cover->batchButton->click();
        QVERIFY(cover->isHidden());
        fWebSearch *search = m_windows->searchWindow();
        m_windows->showDownloadWindow();
        m_windows->downloadWindow()->close();
        search->close();
        QTRY_VERIFY(cover->isVisible());
        QCOMPARE(cover->pos(), place);

        // Left partly beyond an edge, it comes back wholly on the screen, as near as it can.
        cover->move(screen.right() - 100, screen.bottom() - 50);
        cover->hide();
        m_windows->showStartup();
        QCOMPARE(cover->frameGeometry().bottomRight(), screen.bottomRight());
        cover->move(screen.left() - 300, screen.top() + 10);
        cover->hide();
        m_windows->showStartup();
        QCOMPARE(cover->pos(), QPoint(screen.left(), screen.top() + 10));
        // Larger than the screen: its top left corner stays on it.
        QCOMPARE(fCover::placeOnScreen(QRect(-50, -50, 3000, 2000), QRect(0, 0, 800, 600)), QPoint(0, 0));
    }

    void searchWindow()
    {
        fWebSearch *search = m_windows->showSearchWindow();
        QVERIFY(QTest::qWaitForWindowExposed(search));
        QCOMPARE(search->size(), QSize(900, 640));
        // Long titles bring in the horizontal scroll bar, which must not take the rows' room.
        for (int i = 0; i < 30; ++i)
            search->candidates()->加入LV1(QStringLiteral("一篇标题很长的论文 %1 ").arg(i).repeated(8),
                                          QStringLiteral("http://site/p/%1.pdf").arg(i), "http://site/r",
                                          "pdf", "");
        QTreeView *list = search->candidateView();
        list->resizeColumnToContents(0);
        auto *addAll = search->findChild<QPushButton *>(QStringLiteral("AddAllButton"));
        for (const QSize size : {search->size(), QSize(1, 1)}) {
            showAt(search, size);
            QVERIFY(search->width() >= 600 && search->height() >= 333);
            QString fault = layoutFaults(search, {"PicPanWeb", "WebBrowser1", "PicBar", "PicPanList",
                                                  "ListView1", "Label1", "CountCaption", "AddPageButton",
                                                  "AddAllButton", "AnalyseButton", "ExportButton",
                                                  "PicPanPrograss", "Label11", "StopButton", "StatusBar1"});
            addAll->setText(QStringLiteral("停止加入全部"));
            search->findChild<QLabel *>(QStringLiteral("Label1"))->setText(QStringLiteral("123456"));
            fault += layoutFaults(search, {"AddAllButton", "Label1"});
            addAll->setText(QStringLiteral("加入全部到列表"));
            QVERIFY2(fault.isEmpty(), qPrintable(fault));
            QVERIFY(list->horizontalScrollBar()->isVisible());
        }
        // Five rows at every height, on a narrow and a wide window.
        for (const int width : {600, 1400}) {
            for (int height = 333; height <= 1100; height += 41) {
                showAt(search, QSize(width, height));
                QVERIFY2(wholeRows(list) >= 5, qPrintable(QStringLiteral("%1x%2").arg(width).arg(height)));
            }
        }
    }

    // At its default size the candidate list fills the room below the browser with more than its least
    // rows, and a list of long titles leaves every column's header whole, 年份 the last.
    void searchListTakesTheRoomBelowTheBrowser()
    {
        fntest::MessageRecorder messages;
        fWebSearch *search = m_windows->showSearchWindow();
        QVERIFY(QTest::qWaitForWindowExposed(search));
        LinkImport links;
        for (int i = 0; i < 30; ++i)
            links.links.append({i + 1, QStringLiteral("一篇标题很长的论文 %1 ").arg(i).repeated(8),
                                QStringLiteral("http://site/p/%1.pdf").arg(i), QString()});
        search->addImportedLinks(links);
        QCOMPARE(messages.messages.size(), 1);
        QCoreApplication::processEvents();
        QTreeView *list = search->candidateView();
        const QWidget *panel = search->findChild<QWidget *>(QStringLiteral("PicPanList"));
        QVERIFY2(search->centralWidget()->height() - panel->geometry().bottom() <= 2,
                 qPrintable(QStringLiteral("%1 below %2")
                                .arg(search->centralWidget()->height())
                                .arg(panel->geometry().bottom())));
        QVERIFY2(wholeRows(list) >= 7,
                 qPrintable(QStringLiteral("%1 rows, list %2 high at %3, bar %4, window %5")
                                .arg(wholeRows(list))
                                .arg(list->height())
                                .arg(panel->y())
                                .arg(search->findChild<QWidget *>("PicBar")->y())
                                .arg(search->height())));
        const QHeaderView *header = list->header();
        for (int c = 0; c < CandidateListModel::ColumnCount; ++c) {
            const QString name = CandidateListModel::headerText(c);
            QVERIFY2(header->sectionViewportPosition(c) + header->sectionSize(c) <= list->viewport()->width(),
                     qPrintable(name));
            QVERIFY2(header->sectionSize(c) >= header->sectionSizeHint(c), qPrintable(name));
        }
        shoot(search, QStringLiteral("search"));
    }

    void downloadWindow()
    {
        fFileDownload *download = m_windows->ensureDownloadWindow();
        m_windows->showDownloadWindow();
        QVERIFY(QTest::qWaitForWindowExposed(download));
        const QSize defaultSize = download->size();
        int defaultBar = 0;
        for (const QSize size : {defaultSize, QSize(1, 1)}) {
            showAt(download, size);
            defaultBar = defaultBar ? defaultBar : download->Picture3->height();
            // The label shows either method's number: both fit.
            QString fault;
            QSet<QString> methods;
            for (int turn = 0; turn < 2; ++turn) {
                methods.insert(download->Label7->text());
                fault += layoutFaults(download, {"Picture3",  "Image1", "Label4",    "Label1",   "Label7",
                                                 "Command26", "Label2", "Combo1",    "Label5",   "Combo2",
                                                 "Picture1",  "Label8", "Option1",   "Option2",  "Option3",
                                                 "Check3",    "Check4", "Combo4",    "Command4", "Command31",
                                                 "Command1",  "Shape1", "ListView3", "PicWebBK", "StatusBar1",
                                                 "Panel1"});
                download->Command26->click();
            }
            QCOMPARE(methods, (QSet<QString>{QStringLiteral("下载方式：1"), QStringLiteral("下载方式：2")}));
            download->Label1->setText(QStringLiteral("记录数：123456"));
            fault += layoutFaults(download, {"Label1"});
            QVERIFY2(fault.isEmpty(), qPrintable(fault));
            const int rowHeight = StripeRowHeight(download->ListView3, fFileDownload::RowHeight);
            QVERIFY(download->ListView3->viewport()->height() >= 5 * rowHeight);
            QCOMPARE(download->ListView3->y(), download->Picture3->geometry().bottom() + 1);
        }
        // The least width wraps the control bar onto more rows.
        QVERIFY(download->Picture3->height() > defaultBar);
    }

    void intervalListDropsDownFifteenEntries()
    {
        fFileDownload *download = m_windows->ensureDownloadWindow();
        m_windows->showDownloadWindow();
        QVERIFY(QTest::qWaitForWindowExposed(download));
        QComboBox *interval = download->Combo2;
        QCOMPARE(interval->count(), 61);
        interval->showPopup();
        QAbstractItemView *entries = interval->view();
        QTRY_VERIFY(entries->window()->isVisible());
        const int shown = entries->viewport()->height() / entries->sizeHintForRow(0);
        QVERIFY2(shown >= 14 && shown <= 16, qPrintable(QString::number(shown)));
        QVERIFY(entries->viewport()->width() >=
                entries->fontMetrics().horizontalAdvance(QStringLiteral("60")));
        interval->hidePopup();
    }
};

FN_TEST_MAIN_GUI(TestLayout)
#include "tst_layout.moc"
