#include "ui/library/librarywindow.h"

#include "core/common/messenger.h"
#include "core/library/librarythread.h"
#include "core/library/paperlibrary.h"
#include "core/librarymodel/librarycheckrun.h"
#include "core/librarymodel/librarytablemodel.h"
#include "desktop/filedialogs.h"
#include "desktop/screenfit.h"
#include "ui/library/duplicatesdialog.h"
#include "ui/library/librarycolumns.h"
#include "ui/library/librarydetailspane.h"
#include "ui/library/libraryreports.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// A paper whose file has gone missing or was damaged stands out in the state column.
class StateDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QVariant state = index.data(LibraryTableModel::ValueRole);
        const bool broken = state.isValid() && (state.toInt() == static_cast<int>(PaperState::Missing) ||
                                                state.toInt() == static_cast<int>(PaperState::Damaged));
        if (broken && !(option->state & QStyle::State_Selected))
            option->palette.setColor(QPalette::Text, QColor(0xb0, 0x00, 0x00));
    }
};

} // namespace

LibraryWindow::LibraryWindow(PaperLibrary &library, PdfChecker *checker, LibraryCommands::Hooks hooks,
                             QWidget *parent)
    : QMainWindow(parent), m_thread(std::make_unique<LibraryThread>(library.path(), library.busyTimeoutMs())),
      m_libraryPath(library.path()), m_checker(checker)
{
    setObjectName(QStringLiteral("fLibrary"));
    setWindowTitle(QStringLiteral("文献库"));
    resize(1200, 720);
    KeepWithinScreen(this);
    m_model = new LibraryTableModel(*m_thread, this);
    m_commands = new LibraryCommands(*m_thread, std::move(hooks), this);
    m_details = new LibraryDetailsPane(*m_thread);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblLibraryStatus"));
    m_status->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(m_status, 1);
    buildTable();
    buildMenus();
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);
    auto *split = new QSplitter(Qt::Horizontal, central);
    split->addWidget(m_table);
    split->addWidget(m_details);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    layout->addWidget(buildTop());
    layout->addWidget(split, 1);
    setCentralWidget(central);
    m_searchDelay.setSingleShot(true);
    m_searchDelay.setInterval(kSearchDelayMs);
    connect(&m_searchDelay, &QTimer::timeout, this, [this] { m_model->setFilter(m_search->text()); });
    connect(m_search, &QLineEdit::textChanged, this, [this] { m_searchDelay.start(); });
    connect(m_model, &LibraryTableModel::loaded, this, &LibraryWindow::updateCount);
    connect(m_model, &LibraryTableModel::readFailed, this, [this](const QString &why) { tell(why, true); });
    connectCommands();
    m_model->refresh();
}

LibraryWindow::~LibraryWindow()
{
    // What reads on the library's thread goes before the thread does.
    delete m_check;
    m_table->setModel(nullptr);
    delete m_details;
    delete m_commands;
    delete m_model;
    m_thread.reset();
}

void LibraryWindow::buildTable()
{
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("tblLibrary"));
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->setItemDelegateForColumn(static_cast<int>(LibraryColumn::State), new StateDelegate(m_table));
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    QHeaderView *header = m_table->horizontalHeader();
    header->setSortIndicator(0, Qt::AscendingOrder);
    m_table->setSortingEnabled(true);
    header->setStretchLastSection(true);
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    const int widths[kLibraryColumnCount] = {300, 110, 45, 110, 140, 75, 180, 65, 45, 120};
    for (int column = 0; column < kLibraryColumnCount; ++column)
        header->resizeSection(column, widths[column]);
    for (const int column : readHiddenLibraryColumns())
        m_table->setColumnHidden(column, true);
    connect(header, &QHeaderView::customContextMenuRequested, this, &LibraryWindow::showHeaderMenu);
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &LibraryWindow::currentChanged);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_table, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        findChild<QMenu *>(QStringLiteral("mnuPaper"))->popup(m_table->viewport()->mapToGlobal(at));
    });
    connect(m_table, &QAbstractItemView::doubleClicked, this, [this] { m_commands->openFile(selection()); });
}

QWidget *LibraryWindow::buildTop()
{
    auto *top = new QWidget(this);
    auto *row = new QHBoxLayout(top);
    row->setContentsMargins(0, 0, 0, 0);
    m_search = new QLineEdit(top);
    m_search->setObjectName(QStringLiteral("txtLibrarySearch"));
    m_search->setPlaceholderText(QStringLiteral("搜索标题、作者、DOI或来源"));
    m_search->setClearButtonEnabled(true);
    m_count = new QLabel(top);
    m_count->setObjectName(QStringLiteral("lblLibraryCount"));
    auto *again = new QPushButton(QStringLiteral("重新下载缺失和损坏的文献"), top);
    again->setObjectName(QStringLiteral("cmdDownloadBroken"));
    m_checkButton = new QPushButton(QStringLiteral("检查文件"), top);
    m_checkButton->setObjectName(QStringLiteral("cmdCheckFiles"));
    m_stopButton = new QPushButton(QStringLiteral("停止"), top);
    m_stopButton->setObjectName(QStringLiteral("cmdStopCheck"));
    m_stopButton->setEnabled(false);
    m_progress = new QProgressBar(top);
    m_progress->setObjectName(QStringLiteral("barCheck"));
    m_progress->setMaximumWidth(200);
    m_progress->hide();
    row->addWidget(new QLabel(QStringLiteral("查找："), top));
    row->addWidget(m_search, 1);
    row->addWidget(m_count);
    for (QWidget *w : std::initializer_list<QWidget *>{again, m_checkButton, m_stopButton, m_progress})
        row->addWidget(w);
    connect(again, &QPushButton::clicked, this, [this] {
        LibrarySelection every;
        every.everyBrokenPaper = true;
        m_commands->downloadAgain(every);
    });
    connect(m_checkButton, &QPushButton::clicked, this, &LibraryWindow::startCheck);
    connect(m_stopButton, &QPushButton::clicked, this, &LibraryWindow::stopCheck);
    return top;
}

QString LibraryWindow::statusText() const
{
    return m_status->text();
}

LibrarySelection LibraryWindow::selection() const
{
    LibrarySelection chosen;
    chosen.query = m_model->query();
    QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.isEmpty() && m_table->currentIndex().isValid())
        rows.append(m_table->currentIndex());
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    // A large choice is looked up on the library's thread: asking the table would send for every page.
    const bool lookUp = rows.size() > LibraryTableModel::kPageRows;
    for (const QModelIndex &index : rows) {
        chosen.rows.append(index.row());
        const std::optional<LibraryRow> row = lookUp ? std::nullopt : m_model->rowAt(index.row());
        chosen.known.append(row ? row->address : QString());
    }
    return chosen;
}

void LibraryWindow::currentChanged()
{
    const QModelIndex current = m_table->currentIndex();
    m_details->showPaper(current.isValid() ? m_model->data(current, LibraryTableModel::AddressRole).toString()
                                           : QString());
}

void LibraryWindow::updateCount()
{
    m_count->setText(QStringLiteral("共 %1 篇").arg(m_model->rowCount()));
}

void LibraryWindow::tell(const QString &text, bool warning)
{
    m_status->setStyleSheet(warning ? QStringLiteral("color: #b00000;") : QString());
    m_status->setText(text);
}

bool LibraryWindow::startCheck()
{
    if (!m_check) {
        m_check = new LibraryCheckRun(m_libraryPath, m_checker, this);
        connect(m_check, &LibraryCheckRun::progress, this, [this](int done, int total) {
            m_progress->setMaximum(std::max(total, 1));
            m_progress->setValue(done);
        });
        connect(m_check, &LibraryCheckRun::finished, this, &LibraryWindow::checkEnded);
    }
    if (!m_check->start())
        return false;
    m_progress->setValue(0);
    m_progress->show();
    m_checkButton->setEnabled(false);
    m_stopButton->setEnabled(true);
    tell(QStringLiteral("正在检查文件…"));
    return true;
}

void LibraryWindow::stopCheck()
{
    if (m_check)
        m_check->stop();
}

void LibraryWindow::checkEnded(const LibraryCheckReport &report)
{
    m_progress->hide();
    m_checkButton->setEnabled(true);
    m_stopButton->setEnabled(false);
    tell(checkReportText(report), !report.written || !report.allWhole());
    // The check wrote on a connection of its own: the table reads what it found.
    m_model->refresh();
    emit checkFinished(report);
}

void LibraryWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // Another program (or this one's download window) may have written the library meanwhile.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        m_model->refreshIfChanged();
}
