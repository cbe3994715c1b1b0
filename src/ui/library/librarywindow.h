#pragma once

#include "core/librarymodel/libraryupkeep.h"
#include "ui/library/librarycommands.h"

#include <QMainWindow>
#include <QTimer>
#include <memory>

class LibraryCheckRun;
class LibraryDetailsPane;
class LibraryTableModel;
class LibraryThread;
class PaperLibrary;
class PdfChecker;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableView;

// "文献库": every paper of the library in a table read a page at a time, a search box, the chosen paper's
// details and first page, and the commands on the chosen papers. The window reads and writes the
// library it is given on a connection of its own, on a thread of its own.
class LibraryWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int kSearchDelayMs = 200; // typing pauses this long before the table filters

    // The checker is the program's (it outlives the window); none checks presence and content only.
    LibraryWindow(PaperLibrary &library, PdfChecker *checker, LibraryCommands::Hooks hooks,
                  QWidget *parent = nullptr);
    ~LibraryWindow() override;

    LibraryTableModel *model() const { return m_model; }
    QTableView *table() const { return m_table; }
    QLineEdit *searchBox() const { return m_search; }
    LibraryDetailsPane *details() const { return m_details; }
    LibraryCommands *commands() const { return m_commands; }
    QProgressBar *checkProgress() const { return m_progress; }
    QString statusText() const;
    // The chosen papers as the commands take them.
    LibrarySelection selection() const;

    void setColumnShown(int column, bool shown);
    // "检查文件": every held file checked on a thread of its own; false while a check runs.
    bool startCheck();
    void stopCheck();
    void showDuplicates();

signals:
    void checkFinished(const LibraryCheckReport &report);

protected:
    void changeEvent(QEvent *event) override;

private:
    void buildMenus();
    QMenu *buildPaperMenu();
    QWidget *buildTop();
    void buildTable();
    void connectCommands();
    void showHeaderMenu(const QPoint &at);
    void currentChanged();
    void checkEnded(const LibraryCheckReport &report);
    void tell(const QString &text, bool warning = false);
    void askRemove();
    void exportSelection(ExportFormat format);
    void updateCount();

    std::unique_ptr<LibraryThread> m_thread;
    const QString m_libraryPath;
    PdfChecker *const m_checker;
    LibraryTableModel *m_model = nullptr;
    LibraryCommands *m_commands = nullptr;
    QTableView *m_table = nullptr;
    QLineEdit *m_search = nullptr;
    QLabel *m_count = nullptr;
    LibraryDetailsPane *m_details = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_checkButton = nullptr;
    QPushButton *m_stopButton = nullptr;
    QLabel *m_status = nullptr;
    LibraryCheckRun *m_check = nullptr;
    QTimer m_searchDelay;
};
