#include "app/appwindows.h"
#include "common/shellhelpers.h"
#include "download/loginpanel.h"
#include "search/candidatelistmodel.h"
#include "testenv.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTreeView>

namespace {

QWidget *named(QWidget *window, const char *name)
{
    auto *widget = window->findChild<QWidget *>(QLatin1String(name));
    if (!widget)
        qWarning("no control named %s", name);
    return widget;
}

// Why a control is not wholly inside its window or cannot show its whole text; empty when it can.
QString layoutFault(QWidget *window, QWidget *control)
{
    const QString name = control->objectName();
    // Inside every container up to the window: nothing is cut off by an edge.
    for (QWidget *w = control; w != window; w = w->parentWidget()) {
        const QRect inParent = QRect(control->mapTo(w->parentWidget(), QPoint(0, 0)), control->size());
        if (!w->parentWidget()->rect().contains(inParent))
            return QStringLiteral("%1 at %2,%3 %4x%5 leaves %6")
                .arg(name)
                .arg(inParent.x())
                .arg(inParent.y())
                .arg(inParent.width())
                .arg(inParent.height())
                .arg(w->parentWidget()->objectName());
    }
    const QFontMetrics fm = control->fontMetrics();
    if (auto *button = qobject_cast<QPushButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect contents =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        if (contents.width() < fm.horizontalAdvance(button->text()) || contents.height() < fm.height())
            return name + QStringLiteral(" cuts its text ") + button->text();
    } else if (auto *box = qobject_cast<QComboBox *>(control)) {
        QStyleOptionComboBox option;
        option.initFrom(box);
        option.editable = box->isEditable();
        const QRect field =
            box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box);
        for (int i = 0; i < box->count(); ++i)
            if (field.width() < fm.horizontalAdvance(box->itemText(i)))
                return name + QStringLiteral(" cuts its entry ") + box->itemText(i);
        const QRect arrow =
            box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, box);
        if (arrow.width() <= 0 || !box->rect().contains(arrow))
            return name + QStringLiteral(" has no arrow");
    } else if (qobject_cast<QLabel *>(control) || qobject_cast<QAbstractButton *>(control)) {
        const QString text = qobject_cast<QLabel *>(control)
                                 ? qobject_cast<QLabel *>(control)->text()
                                 : qobject_cast<QAbstractButton *>(control)->text();
        if (!text.isEmpty() &&
            (control->width() < control->sizeHint().width() || control->height() < fm.height()))
            return QStringLiteral("%1 is %2x%3 for its text %4 (needs %5)")
                .arg(name)
                .arg(control->width())
                .arg(control->height())
                .arg(text)
                .arg(control->sizeHint().width());
    }
    return {};
}

QStringList layoutFaults(QWidget *window, const QList<const char *> &names)
{
    QStringList faults;
    for (const char *name : names) {
        QWidget *control = named(window, name);
        if (!control)
            faults << QString::fromLatin1(name) + QStringLiteral(" missing");
        else if (const QString fault = layoutFault(window, control); !fault.isEmpty())
            faults << fault;
    }
    return faults;
}

// Rows of the list that fit wholly in its viewport.
int wholeRows(QTreeView *list)
{
    const int row = list->sizeHintForRow(0);
    return row > 0 ? list->viewport()->height() / row : 0;
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
            std::make_unique<AppWindows>(QUrl::fromLocalFile(m_dir.path() + QStringLiteral("/index.html")));
    }

    void cleanup() { m_windows.reset(); }

    void startupWindow()
    {
        fCover *cover = m_windows->startupWindow();
        m_windows->showStartup();
        QVERIFY(QTest::qWaitForWindowExposed(cover));
        const QStringList faults = layoutFaults(cover, {"Label1", "batchButton", "quitButton"});
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
    }

    void startupWindowComesBackWhereItWasWhollyOnScreen()
    {
        fCover *cover = m_windows->startupWindow();
        m_windows->showStartup();
        QVERIFY(QTest::qWaitForWindowExposed(cover));
        const QRect screen = cover->screen()->availableGeometry();
        QVERIFY(screen.width() > cover->frameGeometry().width() + 40);

        // The road of the report: the search window opens, the download window and then the search
        // window close.
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

        // A window left partly beyond the screen's edge comes back wholly on it, as near as it can.
        cover->move(screen.right() - 100, screen.bottom() - 50);
        cover->hide();
        m_windows->showStartup();
        QVERIFY(screen.contains(cover->frameGeometry()));
        QCOMPARE(cover->frameGeometry().right(), screen.right());
        QCOMPARE(cover->frameGeometry().bottom(), screen.bottom());
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
        // Long titles bring in the horizontal scroll bar, which must not eat the rows.
        for (int i = 0; i < 30; ++i)
            search->candidates()->加入LV1(QStringLiteral("一篇标题很长的论文 %1 ").arg(i).repeated(8),
                                          QStringLiteral("http://site/p/%1.pdf").arg(i), "http://site/r",
                                          "pdf", "");
        search->candidateView()->resizeColumnToContents(0);
        auto *addAll = qobject_cast<QPushButton *>(named(search, "AddAllButton"));
        auto *count = qobject_cast<QLabel *>(named(search, "Label1"));
        const QList<const char *> controls = {
            "PicPanWeb",    "WebBrowser1",    "PicBar",        "PicPanList",   "ListView1",
            "Label1",       "CountCaption",   "AddPageButton", "AddAllButton", "AnalyseButton",
            "ExportButton", "PicPanPrograss", "Label11",       "StopButton",   "StatusBar1"};
        const QSize defaultSize = search->size();
        QCOMPARE(defaultSize, QSize(900, 640));
        for (const QSize size : {defaultSize, QSize(1, 1)}) {
            showAt(search, size);
            QVERIFY(search->width() >= 600 && search->height() >= 333);
            QStringList faults = layoutFaults(search, controls);
            addAll->setText(QStringLiteral("停止加入全部"));
            count->setText(QStringLiteral("123456"));
            faults << layoutFaults(search, {"AddAllButton", "Label1"});
            addAll->setText(QStringLiteral("加入全部到列表"));
            QVERIFY2(faults.isEmpty(),
                     qPrintable(QStringLiteral("at %1x%2: ").arg(search->width()).arg(search->height()) +
                                faults.join(u'\n')));
            QVERIFY(search->candidateView()->horizontalScrollBar()->isVisible());
            QVERIFY2(wholeRows(search->candidateView()) >= 5,
                     qPrintable(QStringLiteral("%1 rows at %2x%3")
                                    .arg(wholeRows(search->candidateView()))
                                    .arg(search->width())
                                    .arg(search->height())));
        }
        // Five rows at every height, on a narrow and a wide window.
        for (const int width : {600, 1400}) {
            for (int height = 333; height <= 1100; height += 41) {
                showAt(search, QSize(width, height));
                QVERIFY2(wholeRows(search->candidateView()) >= 5,
                         qPrintable(QStringLiteral("%1 rows at %2x%3")
                                        .arg(wholeRows(search->candidateView()))
                                        .arg(search->width())
                                        .arg(search->height())));
            }
        }
    }

    void downloadWindow()
    {
        fFileDownload *download = m_windows->ensureDownloadWindow();
        m_windows->showDownloadWindow();
        QVERIFY(QTest::qWaitForWindowExposed(download));
        const QList<const char *> controls = {
            "Picture3", "Image1",    "Label4",   "Label1",     "Label7",   "Command26", "Label2",
            "Combo1",   "Label5",    "Combo2",   "Picture1",   "Label8",   "Option1",   "Option2",
            "Option3",  "Check3",    "Check4",   "Combo4",     "Command4", "Command31", "Command1",
            "Shape1",   "ListView3", "PicWebBK", "StatusBar1", "Panel1"};
        const QSize defaultSize = download->size();
        for (const QSize size : {defaultSize, QSize(1, 1)}) {
            showAt(download, size);
            QStringList faults;
            // The label shows either method's number: both fit.
            QSet<QString> methods;
            for (int turn = 0; turn < 2; ++turn) {
                methods.insert(download->Label7->text());
                faults << layoutFaults(download, controls);
                download->Command26->click();
            }
            QCOMPARE(methods, (QSet<QString>{QStringLiteral("下载方式：1"), QStringLiteral("下载方式：2")}));
            download->Label1->setText(QStringLiteral("记录数：123456"));
            faults << layoutFaults(download, {"Label1"});
            QVERIFY2(faults.isEmpty(),
                     qPrintable(QStringLiteral("at %1x%2: ").arg(download->width()).arg(download->height()) +
                                faults.join(u'\n')));
            const int rowHeight = StripeRowHeight(download->ListView3, fFileDownload::RowHeight);
            QVERIFY(download->ListView3->viewport()->height() >= 5 * rowHeight);
        }
        // A narrow window wraps the control bar onto more rows; the list starts below it.
        showAt(download, defaultSize);
        const int defaultBar = download->Picture3->height();
        showAt(download, QSize(1, 1));
        QVERIFY(download->Picture3->height() > defaultBar);
        QCOMPARE(download->ListView3->y(), download->Picture3->geometry().bottom() + 1);
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
        QWidget *popup = entries->window();
        QTRY_VERIFY(popup->isVisible());
        const int row = entries->sizeHintForRow(0);
        QVERIFY(row > 0);
        const int shown = entries->viewport()->height() / row;
        QVERIFY2(shown >= 14 && shown <= 16, qPrintable(QString::number(shown)));
        QVERIFY(popup->height() < 20 * row);
        QVERIFY(entries->viewport()->width() >=
                entries->fontMetrics().horizontalAdvance(QStringLiteral("60")));
        QVERIFY(popup->width() >= interval->width());
        interval->hidePopup();
        QTRY_VERIFY(!popup->isVisible());
    }
};

FN_TEST_MAIN_GUI(TestLayout)
#include "tst_layout.moc"
