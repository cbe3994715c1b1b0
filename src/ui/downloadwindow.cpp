#include "ui/downloadwindow.h"

#include "browser/browserprofile.h"
#include "browser/cookiemirror.h"
#include "core/common/filenames.h"
#include "core/common/messenger.h"
#include "core/queue/downloadlistmodel.h"
#include "core/queue/downloadqueue.h"
#include "core/queue/downloadsession.h"
#include "core/queue/queuekeeper.h"
#include "core/settings/sharedoptions.h"
#include "core/transfer/downloadscheduler.h"
#include "desktop/desktopnotifier.h"
#include "desktop/shellhelpers.h"
#include "ui/loginpanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLinearGradient>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {

const QString kCloseQuestion = QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？");
const QString kSlogan = QStringLiteral("墨枢软件：文献资料，一键到手");
const QString kMakerSite = QStringLiteral("https://www.folionexus.com/");

struct MakerPage
{
    const char *text;
    const char *name;
    const char *address;
};
const MakerPage kMakerPages[] = {
    {"作者网站－墨枢软件", "actMakerSite", "https://www.folionexus.com/"},
    {"最新版本", "actLatestVersion", "https://www.folionexus.com/download/"},
    {"软件教程和问答", "actTutorial", "https://www.folionexus.com/help/"},
    {"软件定制", "actCustom", "https://www.folionexus.com/custom/"},
    {"给软件作者建议", "actSuggest", "https://www.folionexus.com/feedback/"},
};

constexpr int kRowGap = 6;      // between the rows of the control bar, and above and below them
constexpr int kBarPadding = 8;  // left and right of the rows
constexpr int kListMinRows = 5; // the download list always has room for this many rows
constexpr int kMinWidth = 600;

// The four state pictures: waiting, downloading, done, failed.
QIcon stateIcon(int state)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (state) {
    case 1: // a clock face
        p.setPen(QPen(QColor(110, 110, 110), 1.5));
        p.setBrush(QColor(235, 235, 235));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.drawLine(QPointF(8, 8), QPointF(8, 4));
        p.drawLine(QPointF(8, 8), QPointF(11, 9));
        break;
    case 2: { // an arrow pointing down
        QPainterPath arrow;
        arrow.moveTo(5.5, 1);
        arrow.lineTo(10.5, 1);
        arrow.lineTo(10.5, 7);
        arrow.lineTo(14, 7);
        arrow.lineTo(8, 14.5);
        arrow.lineTo(2, 7);
        arrow.lineTo(5.5, 7);
        arrow.closeSubpath();
        p.setPen(QPen(QColor(20, 70, 160), 1));
        p.setBrush(QColor(60, 130, 230));
        p.drawPath(arrow);
        break;
    }
    case 3: // a tick
        p.setPen(QPen(QColor(30, 150, 60), 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
        break;
    default: // a cross
        p.setPen(QPen(QColor(210, 40, 40), 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
        break;
    }
    return QIcon(pixmap);
}

QPixmap barBackground()
{
    QPixmap pixmap(64, 64);
    QPainter p(&pixmap);
    QLinearGradient gradient(0, 0, 0, 64);
    gradient.setColorAt(0, QColor(250, 252, 255));
    gradient.setColorAt(1, QColor(214, 228, 244));
    p.fillRect(pixmap.rect(), gradient);
    return pixmap;
}

QPixmap busyMark()
{
    QPixmap pixmap(14, 14);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(20, 110, 40));
    p.setBrush(QColor(40, 200, 70));
    p.drawEllipse(QRectF(1, 1, 12, 12));
    return pixmap;
}

// The percentage column drawn as a progress bar that carries the cell's text.
class PercentDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        // The list gives the share as a number only when the cell shows one.
        const QVariant share = index.data(DownloadListModel::UnderlyingDataRole);
        const QString text = index.data().toString();
        const double value = share.toDouble();
        if (share.typeId() != QMetaType::Double) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.text.clear();
        QStyle *style = option.widget ? option.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, option.widget);

        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(1, 1, -1, -1);
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = std::clamp(static_cast<int>(value), 0, 100);
        bar.text = text;
        bar.textVisible = true;
        bar.textAlignment = Qt::AlignCenter;
        bar.state = QStyle::State_Enabled | QStyle::State_Horizontal;
        bar.fontMetrics = option.fontMetrics;
        bar.palette = option.palette;
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
    }
};

// A label whose run of spaces holds a control, as "两个文件下载间隔：        秒" holds the interval list.
// The text stays as it is; the gap is drawn as wide as the control needs.
class GapLabel : public QLabel
{
public:
    using QLabel::QLabel;

    void setGapWidget(QWidget *widget)
    {
        m_gapWidget = widget;
        updateGeometry();
    }

    QSize sizeHint() const override
    {
        const Parts p = parts();
        const int textWidth = fontMetrics().horizontalAdvance(p.before) + gapWidth(p) +
                              fontMetrics().horizontalAdvance(p.after);
        const int height =
            std::max(fontMetrics().height(), m_gapWidget ? m_gapWidget->sizeHint().height() : 0);
        return {textWidth + 2 * margin() + 2, height};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const Parts p = parts();
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        QRect area = contentsRect().adjusted(margin(), 0, -margin(), 0);
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, p.before);
        area.setLeft(area.left() + fontMetrics().horizontalAdvance(p.before) + gapWidth(p));
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, p.after);
    }

    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        if (!m_gapWidget)
            return;
        const Parts p = parts();
        const int h = std::min(height(), m_gapWidget->sizeHint().height());
        m_gapWidget->setGeometry(margin() + fontMetrics().horizontalAdvance(p.before), (height() - h) / 2,
                                 gapWidth(p), h);
    }

private:
    struct Parts
    {
        QString before;
        QString gap;
        QString after;
    };

    // The text split around its longest run of spaces.
    Parts parts() const
    {
        const QString t = text();
        qsizetype bestStart = t.size();
        qsizetype bestLength = 0;
        for (qsizetype i = 0; i < t.size();) {
            qsizetype j = i;
            while (j < t.size() && t.at(j) == u' ')
                ++j;
            if (j - i > bestLength) {
                bestStart = i;
                bestLength = j - i;
            }
            i = j > i ? j : i + 1;
        }
        return {t.left(bestStart), t.mid(bestStart, bestLength), t.mid(bestStart + bestLength)};
    }

    int gapWidth(const Parts &p) const
    {
        const int spaces = fontMetrics().horizontalAdvance(p.gap);
        return m_gapWidget ? std::max(spaces, m_gapWidget->sizeHint().width() + 4) : spaces;
    }

    QWidget *m_gapWidget = nullptr;
};

// One control of the control bar with the width it takes and the room left after it.
struct BarItem
{
    QWidget *widget;
    int width;
    int gapAfter;
    int height = 0; // 0: the control's own height
};
// Controls that belong together (a label and its control) stay on one row.
using BarGroup = std::vector<BarItem>;

int itemHeight(const BarItem &item)
{
    return item.height > 0 ? item.height : item.widget->sizeHint().height();
}

int groupWidth(const BarGroup &group)
{
    int width = 0;
    for (const BarItem &item : group)
        width += item.width + item.gapAfter;
    return group.empty() ? 0 : width - group.back().gapAfter;
}

int rowHeightOf(const std::vector<BarGroup> &groups)
{
    int height = 0;
    for (const BarGroup &group : groups)
        for (const BarItem &item : group)
            height = std::max(height, itemHeight(item));
    return height;
}

// Puts the groups on rows from left to right, starting a row where a group would pass the bar's right
// edge, and gives the bar's height. With place false only the height is worked out.
int flowControlBar(const std::vector<BarGroup> &groups, int barWidth, bool place)
{
    const int rowHeight = rowHeightOf(groups);
    int x = kBarPadding;
    int row = 0;
    for (const BarGroup &group : groups) {
        if (x > kBarPadding && x + groupWidth(group) > barWidth - kBarPadding) {
            ++row;
            x = kBarPadding;
        }
        const int top = kRowGap + row * (rowHeight + kRowGap);
        for (const BarItem &item : group) {
            const int h = std::min(rowHeight, itemHeight(item));
            if (place)
                item.widget->setGeometry(x, top + (rowHeight - h) / 2, item.width, h);
            x += item.width + item.gapAfter;
        }
    }
    return (row + 1) * rowHeight + (row + 2) * kRowGap;
}

// Width a push button needs for its text, and at least its design width.
int buttonWidth(const QPushButton *button, int designWidth)
{
    const QStyle *style = button->style();
    const int padding = 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                        2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button) + 8;
    return std::max(designWidth, button->fontMetrics().horizontalAdvance(button->text()) + padding);
}

// Width of a label for the longest text it will show.
int labelWidth(const QLabel *label, const QStringList &texts)
{
    int width = label->sizeHint().width();
    for (const QString &text : texts)
        width = std::max(width, label->fontMetrics().horizontalAdvance(text) + 2 * label->margin() + 2);
    return width;
}

// The control bar's controls in the groups that stay together on a row, with their widths.
std::vector<BarGroup> controlBarGroups(fFileDownload &w)
{
    // The frame of the duplicate-name options holds its label and options on one line.
    int inFrame = 0;
    int frameHeight = 0;
    const std::initializer_list<QWidget *> framed{w.Label8, w.Option1, w.Option2, w.Option3};
    for (QWidget *control : framed)
        frameHeight = std::max(frameHeight, control->sizeHint().height());
    for (QWidget *control : framed) {
        const QSize hint = control->sizeHint();
        control->setGeometry(inFrame, (frameHeight - hint.height()) / 2, hint.width(), hint.height());
        inFrame += hint.width() + (control == w.Label8 ? 2 : 4);
    }
    inFrame -= 4;

    const int label7 = labelWidth(w.Label7, {QStringLiteral("下载方式：0")});
    const int label1 = labelWidth(w.Label1, {QStringLiteral("记录数：000000")});
    return {
        {{w.Label4, w.Label4->sizeHint().width(), 2}, {w.Label1, label1, 10}},
        {{w.Label7, label7, 2}, {w.Command26, buttonWidth(w.Command26, 44), 12}},
        {{w.Label2, w.Label2->sizeHint().width(), 2},
         {w.Combo1, std::max(46, w.Combo1->sizeHint().width()), 12}},
        {{w.Label5, w.Label5->sizeHint().width(), 12}},
        {{w.Command1, buttonWidth(w.Command1, 72), 12}},
        {{w.Command4, buttonWidth(w.Command4, 72), 4},
         {w.Command31, buttonWidth(w.Command31, 72), 10},
         {w.Shape1, 14, 12, 14}},
        {{w.Picture1, inFrame, 12, frameHeight}},
        {{w.CheckSkipHeld, w.CheckSkipHeld->sizeHint().width(), 12}},
        {{w.Check3, w.Check3->sizeHint().width(), 12}},
        {{w.Check4, w.Check4->sizeHint().width(), 2}, {w.Combo4, w.Combo4->sizeHint().width(), 12}},
    };
}

// The least size at which the control bar, with its rows wrapped, and five rows of the list fit.
QSize leastWindowSize(fFileDownload &w)
{
    const std::vector<BarGroup> groups = controlBarGroups(w);
    int widestGroup = 0;
    for (const BarGroup &group : groups)
        widestGroup = std::max(widestGroup, groupWidth(group));
    const int barMargin = twipsToPixels(300);
    // The status bar at its least width, with room for the whole slogan in its first panel.
    int statusWidth = w.statusBar()->minimumSizeHint().width();
    if (const auto *slogan = w.statusBar()->findChild<QLabel *>(QStringLiteral("Panel1")))
        statusWidth += std::max(0, slogan->sizeHint().width() - slogan->minimumWidth());
    const int width = std::max({kMinWidth, widestGroup + 2 * kBarPadding + barMargin, statusWidth});
    const int barHeight = flowControlBar(groups, width - barMargin, false);
    const int scrollBar = w.ListView3->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, w.ListView3);
    const int list = 2 * w.ListView3->frameWidth() + w.ListView3->header()->sizeHint().height() +
                     kListMinRows * StripeRowHeight(w.ListView3, fFileDownload::RowHeight) + scrollBar;
    const int menu = w.menuWidget() ? w.menuWidget()->sizeHint().height() : 0;
    const int height =
        twipsToPixels(20) + barHeight + list + twipsToPixels(140) + menu + w.statusBar()->sizeHint().height();
    return {width, height};
}

} // namespace

DownloadLayout computeDownloadLayout(QSize outerSize, int titleBarHeight, int menuBarHeight,
                                     int statusBarHeight, int barHeight, int browserTop)
{
    const int margin = twipsToPixels(20);
    DownloadLayout layout;
    layout.bar = QRect(margin, margin, std::max(0, outerSize.width() - twipsToPixels(300)), barHeight);
    const int listTop = layout.bar.top() + barHeight;
    const int listHeight =
        outerSize.height() - listTop - statusBarHeight - titleBarHeight - menuBarHeight - twipsToPixels(140);
    layout.list = QRect(margin, listTop, layout.bar.width(), std::max(0, listHeight));
    const int inset = twipsToPixels(40);
    layout.browser = QRect(0, browserTop, std::max(0, layout.list.width() - inset),
                           std::max(0, layout.list.height() - browserTop - inset));
    return layout;
}

const QString fFileDownload::Caption = QStringLiteral("文件下载 － 墨枢Folionexus文献资料下载管理器");
const QString fFileDownload::VerificationText =
    QStringLiteral("站点需要验证：请在登录面板完成验证后点击继续");
const QString fFileDownload::LoginText = QStringLiteral("站点要求登录：请在登录面板登录后点击继续");

fFileDownload::fFileDownload(QWidget *parent) : QMainWindow(parent), m_progress(nullptr)
{
    setObjectName(QStringLiteral("fFileDownload"));
    setWindowTitle(Caption);
    setAttribute(Qt::WA_DeleteOnClose);
    resize(1000, 600);

    m_session = new DownloadSession(this);
    mirrorBrowserCookies(m_session, programProfile());
    m_queue = m_session->queue();
    m_model = m_session->model();
    m_scheduler = m_session->scheduler();
    m_progress = QueueProgress(m_model);
    m_notifier = new DesktopNotifier(this);

    m_shell.openFile = [this](const QString &path) {
        OpenWithAssociatedProgram(path, this);
        return true;
    };
    m_shell.showInFolder = [](const QString &path) { return ShowInFolder(path); };
    m_shell.openFolder = [](const QString &folder) {
        return shellServices().openUrl && shellServices().openUrl(QUrl::fromLocalFile(folder));
    };
    m_shell.openInTextEditor = [](const QString &path) {
        openInTextEditor(path);
        return true;
    };
    m_shell.openWebPage = [](const QString &address) {
        OpenWebPage(address, true);
        return true;
    };

    auto *central = new QWidget(this);
    setCentralWidget(central);
    // The menu and status bars settle their heights after the window's own resize; place again then.
    central->installEventFilter(this);
    buildControlBar(central);
    buildList(central);
    PicWebBK = new LoginPanel(central);
    PicWebBK->hide();
    buildMenus();
    buildStatusBar();
    connectScheduler();
    loadWindow();
    connectLibrary();
}

fFileDownload::~fFileDownload()
{
    // The queue's library hooks, its transfers and its rows go in that order.
    delete m_session;
    m_session = nullptr;
}

void fFileDownload::buildControlBar(QWidget *central)
{
    Picture3 = new QFrame(central);
    Picture3->setObjectName(QStringLiteral("Picture3"));
    Picture3->setFrameShape(QFrame::StyledPanel);
    Image1 = new QLabel(Picture3);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(barBackground());
    Image1->setScaledContents(true);
    Image1->lower();
    Picture3->installEventFilter(this);

    auto make = [this](auto *widget, const char *name) {
        widget->setObjectName(QLatin1String(name));
        return widget;
    };
    Label4 = make(new QLabel(QStringLiteral("下载列表："), Picture3), "Label4");
    Label1 = make(new QLabel(QStringLiteral("记录数：0"), Picture3), "Label1");
    Label7 = make(new QLabel(QStringLiteral("下载方式："), Picture3), "Label7");
    Command26 = make(new QPushButton(QStringLiteral("切换"), Picture3), "Command26");
    Command26->setToolTip(QStringLiteral("更改下载方式"));
    Label2 = make(new QLabel(QStringLiteral("线程数："), Picture3), "Label2");
    Combo1 = make(new QComboBox(Picture3), "Combo1");
    for (int i = 1; i <= DownloadScheduler::MaxSlots; ++i)
        Combo1->addItem(QString::number(i));
    auto *intervalLabel =
        make(new GapLabel(QStringLiteral("两个文件下载间隔：        秒"), Picture3), "Label5");
    Label5 = intervalLabel;
    Combo2 = make(new QComboBox(Label5), "Combo2");
    // An ordinary drop-down list of some fifteen entries, as wide as its widest entry (the style's own
    // popup would cover the whole height of the screen).
    Combo2->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
    Combo2->setMaxVisibleItems(15);
    Combo2->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    intervalLabel->setGapWidget(Combo2);
    Command1 = make(new QPushButton(QStringLiteral("网页登录"), Picture3), "Command1");

    Picture1 = make(new QFrame(Picture3), "Picture1");
    Label8 = make(new QLabel(QStringLiteral("同名文件："), Picture1), "Label8");
    Option1 = make(new QRadioButton(QStringLiteral("跳过"), Picture1), "Option1");
    Option2 = make(new QRadioButton(QStringLiteral("覆盖"), Picture1), "Option2");
    Option3 = make(new QRadioButton(QStringLiteral("重命名"), Picture1), "Option3");
    CheckSkipHeld = make(new QCheckBox(QStringLiteral("跳过已下载过的文献"), Picture3), "CheckSkipHeld");
    Check3 = make(new QCheckBox(QStringLiteral("当有未下载项时，自动启动下载"), Picture3), "Check3");
    Check4 = make(new QCheckBox(QStringLiteral("自动重新下载："), Picture3), "Check4");
    Combo4 = make(new QComboBox(Picture3), "Combo4");
    Combo4->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    Combo4->addItems({QStringLiteral("出错项"), QStringLiteral("文件类型为HTM和HTML项"),
                      QStringLiteral("出错项和文件类型为HTM和HTML项")});
    Command4 = make(new QPushButton(QStringLiteral("开始下载"), Picture3), "Command4");
    Command31 = make(new QPushButton(QStringLiteral("停止下载"), Picture3), "Command31");
    Command31->setToolTip(QStringLiteral("停止下载"));
    Shape1 = make(new QLabel(Picture3), "Shape1");
    Shape1->setPixmap(busyMark());
    Shape1->setToolTip(QStringLiteral("正在下载"));
    Shape1->hide();
}

void fFileDownload::buildList(QWidget *central)
{
    ListView3 = new QTreeView(central);
    ListView3->setObjectName(QStringLiteral("ListView3"));
    ListView3->setModel(m_model);
    ListView3->setRootIsDecorated(false);
    ListView3->setItemsExpandable(false);
    ListView3->setUniformRowHeights(true);
    ListView3->setAllColumnsShowFocus(true);
    ListView3->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListView3->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView3->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView3->setToolTip(QStringLiteral("双击鼠标：下载当前项或者打开文件"));
    ListView3->setContextMenuPolicy(Qt::CustomContextMenu);
    ListView3->setItemDelegateForColumn(DownloadListModel::ColPercent, new PercentDelegate(ListView3));
    ListView3->header()->setSectionsClickable(true);
    ListView3->header()->setSortIndicatorShown(false);
    ListView3->header()->setStretchLastSection(true);
    const int widths[] = {280, 50, 80, 80, 90, 240, 90};
    for (int c = 0; c < DownloadListModel::ColumnCount; ++c)
        ListView3->setColumnWidth(c, widths[c]);

    m_model->setStateDecorations(
        {QVariant(stateIcon(1)), QVariant(stateIcon(2)), QVariant(stateIcon(3)), QVariant(stateIcon(4))});

    connect(ListView3->header(), &QHeaderView::sectionClicked, this, &fFileDownload::sortByHeader);
    connect(ListView3, &QTreeView::doubleClicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            m_queue->commands().doubleClick(m_model->idAt(index.row()), m_shell);
    });
    connect(ListView3, &QTreeView::clicked, this, [this](const QModelIndex &index) {
        if (index.isValid())
            panel(StatusPanel::Transfer)->setText(RowClickPanelText(*m_model, m_model->idAt(index.row())));
    });
    connect(ListView3, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        prepareListMenu();
        m_listMenu->popup(ListView3->viewport()->mapToGlobal(pos));
    });
    connect(m_model, &DownloadListModel::rowsChanged, this, &fFileDownload::refreshRecordCount);
}

QAction *fFileDownload::addItem(QMenu *menu, const QString &text, const QString &name,
                                void (fFileDownload::*slot)())
{
    QAction *item = menu->addAction(text);
    item->setObjectName(name);
    if (slot)
        connect(item, &QAction::triggered, this, slot);
    return item;
}

void fFileDownload::buildMenus()
{
    m_listMenu = menuBar()->addMenu(QStringLiteral("列表操作(&D)"));
    m_listMenu->setObjectName(QStringLiteral("mnuList"));
    QMenu *list = m_listMenu;
    addItem(list, QStringLiteral("全选"), QStringLiteral("actSelectAll"), &fFileDownload::selectAll);
    addItem(list, QStringLiteral("全不选"), QStringLiteral("actSelectNone"), &fFileDownload::selectNone);
    addItem(list, QStringLiteral("随机排序列表(打乱)"), QStringLiteral("actShuffle"),
            &fFileDownload::shuffle);
    addItem(list, QStringLiteral("自动调整列宽"), QStringLiteral("actFitColumns"),
            &fFileDownload::fitColumns);
    list->addSeparator();
    QMenu *again = list->addMenu(QStringLiteral("重新下载"));
    again->menuAction()->setObjectName(QStringLiteral("actRedownload"));
    addItem(again, QStringLiteral("选中项"), QStringLiteral("actRedownloadSelected"),
            &fFileDownload::redownloadSelected);
    addItem(again, QStringLiteral("出错项"), QStringLiteral("actRedownloadFailed"),
            &fFileDownload::redownloadFailed);
    addItem(again, QStringLiteral("文件类型为HTM和HTML项"), QStringLiteral("actRedownloadHtml"),
            &fFileDownload::redownloadHtml);
    list->addSeparator();
    QMenu *remove = list->addMenu(QStringLiteral("清除"));
    remove->menuAction()->setObjectName(QStringLiteral("actRemove"));
    addItem(remove, QStringLiteral("选中项"), QStringLiteral("actRemoveSelected"),
            &fFileDownload::removeSelected);
    addItem(remove, QStringLiteral("全部出错项"), QStringLiteral("actRemoveFailed"),
            &fFileDownload::removeFailed);
    addItem(remove, QStringLiteral("完成项"), QStringLiteral("actRemoveDone"), &fFileDownload::removeDone);
    addItem(list, QStringLiteral("清空"), QStringLiteral("actClearAll"), &fFileDownload::clearAll);
    list->addSeparator();
    addItem(list, QStringLiteral("开始下载"), QStringLiteral("actStart"), &fFileDownload::startDownloads);
    addItem(list, QStringLiteral("停止下载"), QStringLiteral("actStop"), &fFileDownload::stopDownloads);
    addItem(list, QStringLiteral("取消下载选中项"), QStringLiteral("actCancelSelected"),
            &fFileDownload::cancelSelected);
    list->addSeparator();
    addItem(list, QStringLiteral("打开下载文件"), QStringLiteral("actOpenFile"), &fFileDownload::openFile);
    addItem(list, QStringLiteral("打开所在文件夹"), QStringLiteral("actOpenFolder"),
            &fFileDownload::openFolder);
    addItem(list, QStringLiteral("用记事本打开文件"), QStringLiteral("actOpenInEditor"),
            &fFileDownload::openInEditor);
    buildExportMenu(list);
    list->addSeparator();
    QAction *quit = addItem(list, QStringLiteral("退出本下载窗口"), QStringLiteral("actQuit"), nullptr);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu *tools = menuBar()->addMenu(QStringLiteral("工具(&T)"));
    tools->setObjectName(QStringLiteral("mnuTools"));
    connect(addItem(tools, QStringLiteral("设置"), QStringLiteral("actSettings"), nullptr),
            &QAction::triggered, this, &fFileDownload::optionsRequested);
    addItem(tools, QStringLiteral("检查PDF文件"), QStringLiteral("actCheckPdf"), &fFileDownload::checkPdf);
    connect(addItem(tools, QStringLiteral("打开网页分析窗口"), QStringLiteral("actSearchWindow"), nullptr),
            &QAction::triggered, this, &fFileDownload::searchWindowRequested);

    QMenu *help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    connect(addItem(help, QStringLiteral("关于"), QStringLiteral("actAbout"), nullptr), &QAction::triggered,
            this, &fFileDownload::aboutRequested);
    help->addSeparator();
    for (const MakerPage &page : kMakerPages) {
        QAction *item = addItem(help, QString::fromUtf8(page.text), QLatin1String(page.name), nullptr);
        const QString address = QLatin1String(page.address);
        connect(item, &QAction::triggered, this, [this, address] {
            if (m_shell.openWebPage)
                m_shell.openWebPage(address);
        });
    }
}

void fFileDownload::buildStatusBar()
{
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    for (size_t i = 0; i < m_panels.size(); ++i) {
        auto *label = new QLabel(statusBar());
        label->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        label->setFrameShape(QFrame::StyledPanel);
        label->setMinimumWidth(i == 0 ? 120 : 80);
        if (i == 3) // the totals line is read whole: it keeps room for five numbers
            label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral(
                                       "总数：0000|正在下载：0|等待：0000|已完成：0000|失败：0000")) +
                                   12);
        label->installEventFilter(this);
        m_panels[i] = label;
        statusBar()->addWidget(label, i == 1 ? 3 : (i == 0 ? 0 : 2));
    }
    panel(StatusPanel::Slogan)->setText(kSlogan);
    panel(StatusPanel::Slogan)->setCursor(Qt::PointingHandCursor);
    panel(StatusPanel::Slogan)->setToolTip(kMakerSite);

    // Beside the connection panel, 继续 for a paused queue and the speed with the time left; the
    // totals line keeps its panel to itself.
    cmdContinue = new QPushButton(QStringLiteral("继续"), statusBar());
    cmdContinue->setObjectName(QStringLiteral("cmdContinue"));
    cmdContinue->hide();
    statusBar()->insertWidget(3, cmdContinue);
    m_speedPanel = new QLabel(statusBar());
    m_speedPanel->setObjectName(QStringLiteral("PanelSpeed"));
    m_speedPanel->setFrameShape(QFrame::StyledPanel);
    // Room for a usual reading, so that it is not the one panel squeezed while a run is on.
    m_speedPanel->setMinimumWidth(
        m_speedPanel->fontMetrics().horizontalAdvance(QStringLiteral("总速度 999.9 KB/s，剩余 59分59秒")) +
        12);
    m_speedPanel->hide(); // shown while a run is on
    statusBar()->insertWidget(4, m_speedPanel, 2);
}

void fFileDownload::placeRegions()
{
    if (isMinimized())
        return;
    const QSize outer = frameGeometry().size();
    const int titleBar = std::max(0, frameGeometry().height() - geometry().height());
    const int menuBar = menuWidget() ? menuWidget()->height() : 0;
    const QSize least = leastWindowSize(*this);
    if (minimumSize() != least)
        setMinimumSize(least);
    const int barHeight =
        flowControlBar(controlBarGroups(*this), std::max(0, outer.width() - twipsToPixels(300)), true);
    const DownloadLayout layout = computeDownloadLayout(outer, titleBar, menuBar, statusBar()->height(),
                                                        barHeight, LoginPanel::BrowserTop);
    Picture3->setGeometry(layout.bar);
    Image1->setGeometry(0, 0, layout.bar.width(), layout.bar.height());
    ListView3->setGeometry(layout.list);
    PicWebBK->setGeometry(layout.list);
    PicWebBK->WebBrowser1->setGeometry(layout.browser);
    ApplyRowStripes(ListView3, RowHeight);
}

void fFileDownload::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    placeRegions();
}

void fFileDownload::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        refreshRecordCount();
    else if (event->type() == QEvent::WindowStateChange)
        placeRegions();
}

bool fFileDownload::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == panel(StatusPanel::Slogan)) {
            if (m_shell.openWebPage)
                m_shell.openWebPage(kMakerSite);
        } else if (watched == panel(StatusPanel::Transfer)) {
            // The panel shows a file path after a row click; other texts (the transfer's name) open nothing.
            const QString text = panel(StatusPanel::Transfer)->text();
            if (!text.isEmpty() && FileExists(text) && m_shell.openFile)
                m_shell.openFile(text);
        }
    } else if (event->type() == QEvent::Resize) {
        if (watched == Picture3)
            Image1->setGeometry(Picture3->rect());
        else if (watched == centralWidget())
            placeRegions();
    }
    return QMainWindow::eventFilter(watched, event);
}

void fFileDownload::closeEvent(QCloseEvent *event)
{
    if (m_scheduler->closeNeedsConfirmation() && !askYesNo(MessageIcon::Question, kCloseQuestion)) {
        event->ignore();
        return;
    }
    PicWebBK->stopTimers();
    m_closing = true;
    m_queue->close();
    if (QueueKeeper *keeper = m_queue->queueKeeper()) {
        // A list still being read is kept as it was saved, with what this window holds before it.
        if (keeper->isLoading())
            keeper->detach();
        else
            keeper->saveNow();
    }
    event->accept();
    Q_EMIT windowClosed();
}

void fFileDownload::takeSharedOptions()
{
    const SharedOptions &shared = sharedOptions();
    const bool methodChanged = m_queue->options().method != shared.DownloadMethod;
    m_queue->changeOptions([&shared, methodChanged](SchedulerOptions &options) {
        options.proxy = {shared.ProxyEnabled, shared.ProxyAddress, shared.proxyPortNumber()};
        options.retries = shared.Retries;
        options.namesFromLinks = shared.UseOriginalFileName;
        if (methodChanged) {
            options.method = shared.DownloadMethod;
            options.threadCount = 1;
            options.threadPosition = 0;
        }
    });
    if (methodChanged)
        onMethodShown(shared.DownloadMethod, shared.DownloadMethod != DownloadMethod::Single, 0);
}

CookieMirror *fFileDownload::cookieMirror() const
{
    return m_session->cookieMirror();
}
