#include "ui/downloadwindow.h"

#include "browser/browserprofile.h"
#include "browser/cookiemirror.h"
#include "core/common/messenger.h"
#include "core/queue/downloadqueue.h"
#include "core/queue/downloadsession.h"
#include "core/queue/queuekeeper.h"
#include "core/rows/downloadlistmodel.h"
#include "core/transfer/diskworkers.h"
#include "core/transfer/downloadscheduler.h"
#include "desktop/screenfit.h"
#include "desktop/shellhelpers.h"
#include "desktop/shelltexteditor.h"
#include "ui/downloadwindowcommands.h"
#include "ui/downloadwindowfeedback.h"
#include "ui/downloadwindowlibrary.h"
#include "ui/downloadwindowpdfcheck.h"
#include "ui/downloadwindowreferences.h"
#include "ui/loginpanel.h"
#include "ui/loginplacement.h"
#include "ui/messagebar.h"
#include "ui/queuecontrols.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLinearGradient>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QThreadPool>
#include <QTimer>
#include <QTreeView>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace {

const QString kCloseQuestion = QStringLiteral("正在下载文件或者下载没有完成，要强制关闭窗口吗？");

constexpr int kRowGap = 6;      // between the rows of the control bar, and above and below them
constexpr int kBarPadding = 8;  // left and right of the rows
constexpr int kListMinRows = 5; // the download list always has room for this many rows
constexpr int kMinWidth = 600;

QPainterPath downArrow()
{
    QPainterPath arrow;
    arrow.moveTo(5.5, 1);
    arrow.lineTo(10.5, 1);
    arrow.lineTo(10.5, 7);
    arrow.lineTo(14, 7);
    arrow.lineTo(8, 14.5);
    arrow.lineTo(2, 7);
    arrow.lineTo(5.5, 7);
    arrow.closeSubpath();
    return arrow;
}

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
    case 2: // an arrow pointing down
        p.setPen(QPen(QColor(20, 70, 160), 1));
        p.setBrush(QColor(60, 130, 230));
        p.drawPath(downArrow());
        break;
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
        {{w.CommandLibrary, buttonWidth(w.CommandLibrary, 60), 12}},
        {{w.Command4, buttonWidth(w.Command4, 72), 4},
         {w.Command31, buttonWidth(w.Command31, 72), 10},
         {w.Shape1, 14, 12, 14}},
        {{w.Picture1, inFrame, 12, frameHeight}},
        {{w.CheckSkipHeld, w.CheckSkipHeld->sizeHint().width(), 12}},
        {{w.Check3, w.Check3->sizeHint().width(), 12}},
        {{w.Check4, w.Check4->sizeHint().width(), 2}, {w.Combo4, w.Combo4->sizeHint().width(), 12}},
    };
}

// The least size at which the control bar, with its rows wrapped, and five rows of the list fit; the
// slogan is the status bar's first panel.
QSize leastWindowSize(fFileDownload &w, const QLabel *slogan)
{
    const std::vector<BarGroup> groups = controlBarGroups(w);
    int widestGroup = 0;
    for (const BarGroup &group : groups)
        widestGroup = std::max(widestGroup, groupWidth(group));
    const int barMargin = twipsToPixels(300);
    // The status bar at its least width, with room for the whole slogan in its first panel.
    int statusWidth = w.statusBar()->minimumSizeHint().width();
    if (slogan)
        statusWidth += std::max(0, slogan->sizeHint().width() - slogan->minimumWidth());
    const int width = std::max({kMinWidth, widestGroup + 2 * kBarPadding + barMargin, statusWidth});
    const int barHeight = flowControlBar(groups, width - barMargin, false);
    const int scrollBar = w.ListView3->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, w.ListView3);
    const int list = 2 * w.ListView3->frameWidth() + w.ListView3->header()->sizeHint().height() +
                     kListMinRows * StripeRowHeight(w.ListView3, fFileDownload::RowHeight) + scrollBar;
    const int menu = w.menuWidget() ? w.menuWidget()->sizeHint().height() : 0;
    // A message above the list takes its room from the window, not from the list's five rows.
    const MessageBar *message = w.messageBar();
    const int messageHeight = message->hasMessage() ? message->heightForWidth(width - barMargin) : 0;
    const int height = twipsToPixels(20) + barHeight + messageHeight + list + twipsToPixels(140) + menu +
                       w.statusBar()->sizeHint().height();
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

const QString DownloadWindowTexts::Caption = QStringLiteral("文件下载 － 墨枢Folionexus文献资料下载管理器");
const QString DownloadWindowTexts::VerificationText =
    QStringLiteral("站点需要验证：请在登录面板完成验证后点击继续");
const QString DownloadWindowTexts::LoginText = QStringLiteral("站点要求登录：请在登录面板登录后点击继续");

fFileDownload::fFileDownload(const RunObjects &run, QWidget *parent) : QMainWindow(parent), m_run(run)
{
    setObjectName(QStringLiteral("fFileDownload"));
    setWindowTitle(Caption);
    setAttribute(Qt::WA_DeleteOnClose);
    resize(1000, 600);
    KeepWithinScreen(this);

    m_session = new DownloadSession(m_run.siteRules, this);
    mirrorBrowserCookies(m_session, programProfile());
    m_queue = m_session->queue();
    m_model = m_session->model();
    m_scheduler = m_session->scheduler();

    setUpShellHooks();

    auto *central = new QWidget(this);
    setCentralWidget(central);
    // The menu and status bars settle their heights after the window's own resize; place again then.
    central->installEventFilter(this);
    buildControlBar(central);
    buildList(central);
    PicWebBK = new LoginPanel(central);
    PicWebBK->hide();
    makeHelpers();
    ApplyRowStripes(ListView3, RowHeight);
    m_commands->refreshRecordCount();
    m_library->connectLibrary();
}

void fFileDownload::setUpShellHooks()
{
    // The commands looked at the file on a worker before they call these: no second look here.
    m_shell.openFile = [](const QString &path) {
        OpenFoundFile(path);
        return true;
    };
    m_shell.showInFolder = [](const QString &path) { return ShowFoundFileInFolder(path); };
    m_shell.openFolder = [](const QString &folder) {
        return shellServices().openUrl && shellServices().openUrl(QUrl::fromLocalFile(folder));
    };
    m_shell.openInTextEditor = [this](const QString &path) {
        // Finding the editor reads the desktop's settings files: that is done on a worker.
        diskwork::workThenPost(
            this, [path] { return TextEditorCommand(path); },
            [path](const QStringList &command) { startTextEditor(command, path); });
        return true;
    };
    m_shell.openWebPage = [](const QString &address) {
        OpenWebPage(address, true);
        return true;
    };
}

void fFileDownload::makeHelpers()
{
    const DownloadWindowParts parts{*this, *this, m_queue, m_run, m_shell};
    m_feedback = new DownloadWindowFeedback(parts);
    connect(m_feedback->messageBar(), &MessageBar::changed, this, &fFileDownload::placeRegions);
    connect(m_feedback, &DownloadWindowFeedback::placementChanged, this, &fFileDownload::placeRegions);
    m_commands = new DownloadWindowCommands(parts, *m_feedback);
    connect(m_commands, &DownloadWindowCommands::optionsRequested, this, &fFileDownload::optionsRequested);
    connect(m_commands, &DownloadWindowCommands::aboutRequested, this, &fFileDownload::aboutRequested);
    connect(m_commands, &DownloadWindowCommands::searchWindowRequested, this,
            &fFileDownload::searchWindowRequested);
    m_library = new DownloadWindowLibrary(parts, *m_commands, *m_feedback);
    m_references = new DownloadWindowReferences(parts);
    m_commands->buildMenus([this](QMenu *list) {
        m_library->buildExportMenu(list);
        m_references->buildMenu(list);
    });
    QAction *library = findChild<QMenu *>(QStringLiteral("mnuTools"))->addAction(QStringLiteral("文献库"));
    library->setObjectName(QStringLiteral("actLibrary"));
    connect(library, &QAction::triggered, this, &fFileDownload::libraryWindowRequested);
    connect(CommandLibrary, &QPushButton::clicked, this, &fFileDownload::libraryWindowRequested);
    m_controls = new QueueControls(parts, *m_commands);
}

fFileDownload::~fFileDownload()
{
    // The PDF check goes first: it need not read on while the rows it checks go.
    if (auto *check = findChild<DownloadWindowPdfCheck *>())
        check->stop();
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

    auto make = [](auto *widget, const char *name) {
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
    CommandLibrary = make(new QPushButton(QStringLiteral("文献库"), Picture3), "CommandLibrary");
    buildOptionsBar();
}

void fFileDownload::buildOptionsBar()
{
    auto make = [](auto *widget, const char *name) {
        widget->setObjectName(QLatin1String(name));
        return widget;
    };
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
    const int widths[] = {280, 50, 80, 80, 110, 220, 90}; // the percent cell holds a failed row's reason
    for (int c = 0; c < DownloadListModel::ColumnCount; ++c)
        ListView3->setColumnWidth(c, widths[c]);

    m_model->setStateDecorations(
        {QVariant(stateIcon(1)), QVariant(stateIcon(2)), QVariant(stateIcon(3)), QVariant(stateIcon(4))});
}

void fFileDownload::placeRegions()
{
    if (isMinimized())
        return;
    const QSize outer = frameGeometry().size();
    const int titleBar = std::max(0, frameGeometry().height() - geometry().height());
    const int menuBar = menuWidget() ? menuWidget()->height() : 0;
    const QSize least = leastWindowSize(*this, m_feedback->panel(StatusPanel::Slogan));
    if (minimumSize() != least)
        setMinimumSize(least);
    const int barHeight =
        flowControlBar(controlBarGroups(*this), std::max(0, outer.width() - twipsToPixels(300)), true);
    // A message goes between the control bar and the list, which gives it the room.
    const int listWidth = std::max(0, outer.width() - twipsToPixels(300));
    MessageBar *message = m_feedback->messageBar();
    const int messageHeight = message->hasMessage() ? message->heightForWidth(listWidth) : 0;
    const DownloadLayout layout = computeDownloadLayout(outer, titleBar, menuBar, statusBar()->height(),
                                                        barHeight + messageHeight, LoginPanel::BrowserTop);
    Picture3->setGeometry(layout.bar.adjusted(0, 0, 0, -messageHeight));
    message->setGeometry(layout.list.left(), layout.list.top() - messageHeight, listWidth, messageHeight);
    Image1->setGeometry(0, 0, layout.bar.width(), barHeight);
    const LoginPlacement login =
        placeLoginPanel(layout.list, m_feedback->loginBesideList(), LoginPanel::BrowserTop,
                        layout.list.width() - layout.browser.width());
    ListView3->setGeometry(login.list);
    PicWebBK->setGeometry(login.panel);
    PicWebBK->WebBrowser1->setGeometry(login.browser);
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
        m_commands->refreshRecordCount();
    else if (event->type() == QEvent::WindowStateChange)
        placeRegions();
}

bool fFileDownload::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize) {
        if (watched == Picture3)
            Image1->setGeometry(Picture3->rect());
        else if (watched == centralWidget())
            placeRegions();
    }
    return QMainWindow::eventFilter(watched, event);
}

void fFileDownload::closeEvent(QCloseEvent *event)
{
    if (!m_closeConfirmed) {
        if (m_scheduler->closeNeedsConfirmation() && !askYesNo(MessageIcon::Question, kCloseQuestion)) {
            event->ignore();
            return;
        }
        m_closeConfirmed = true;
        PicWebBK->stopTimers();
        m_feedback->windowClosing();
        m_queue->close();
    }
    // Files whose last byte had arrived are still on their way to the disk: they get their rows' names
    // and outcomes (kept with the list) before the list goes, and the window closes then.
    if (m_scheduler->transfers().anyTransferLive()) {
        event->ignore();
        setEnabled(false);
        if (!m_closeWhenSettled)
            m_closeWhenSettled = connect(m_scheduler, &DownloadScheduler::transferEnded, this, [this] {
                if (!m_scheduler->transfers().anyTransferLive())
                    QTimer::singleShot(0, this, &QWidget::close);
            });
        return;
    }
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
    m_controls->takeSharedOptions();
}

// What the collaborators own, reached through the window by the program and its tests.

QList<int> fFileDownload::selectedRows() const
{
    return m_commands->selectedRows();
}

QList<RowId> fFileDownload::selectedIds() const
{
    return m_commands->selectedIds();
}

QMenu *fFileDownload::listMenu() const
{
    return m_commands->listMenu();
}

QAction *fFileDownload::action(const QString &objectName) const
{
    return findChild<QAction *>(objectName);
}

void fFileDownload::prepareListMenu()
{
    m_commands->prepareListMenu();
}

void fFileDownload::sortByHeader(int column)
{
    m_commands->sortByHeader(column);
}

void fFileDownload::webLogin()
{
    m_commands->webLogin();
}

QString fFileDownload::panelText(int panel) const
{
    return (panel >= 1 && panel <= 4) ? m_feedback->panel(static_cast<StatusPanel>(panel))->text()
                                      : QString();
}

QString fFileDownload::speedText() const
{
    return m_feedback->speedText();
}

DesktopNotifier *fFileDownload::notifier() const
{
    return m_feedback->notifier();
}

MessageBar *fFileDownload::messageBar() const
{
    return m_feedback->messageBar();
}
