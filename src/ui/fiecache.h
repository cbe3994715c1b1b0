#pragma once

#include "core/cache/cachecommands.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;

// The browser cache viewer: the current user's cache entries or every file of every user's cache,
// with deletion of the selected or all rows. Closing it destroys it.
class fIECache : public QDialog
{
    Q_OBJECT

public:
    explicit fIECache(const CacheLocations &locations, QWidget *parent = nullptr);

    // Lists the current user's cache, deletes everything listed, lists all users' caches, deletes
    // everything listed, then closes the window; with showMessage the end is announced.
    void clearCache(bool showMessage);
    // True from clearCache() until the window closes itself: such a window is never shown to the user.
    bool isClearing() const { return m_clearing; }

    CacheCommands *commands() const { return m_commands; }
    QString listTag() const;

    QTreeWidget *ListView1 = nullptr;
    QTreeWidget *ListView2 = nullptr;
    QTreeWidget *ListView3 = nullptr;
    QLabel *Label1 = nullptr;
    QPushButton *Command1 = nullptr;
    QPushButton *Command7 = nullptr;
    QPushButton *Command2 = nullptr;
    QPushButton *Command3 = nullptr;
    QPushButton *Command6 = nullptr;
    QPushButton *Command4 = nullptr;

private:
    void buildLayout();
    void showRows(const QList<bool> &selected = {});
    void showListing();
    void sortByColumn(int column);
    void setBusy(bool busy);
    QList<bool> selectedRows() const;
    void endClearing();

    CacheCommands *m_commands = nullptr;
    bool m_clearing = false;
    bool m_messageAfterClearing = false;
};
