#pragma once

#include "core/library/libraryview.h"

#include <QDialog>

class LibraryCommands;
class LibraryThread;
class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;

// Papers held twice, one group each: the same DOI in two files, or the same content in two files. The
// user picks the paper whose file stays; the others of its group are pointed at that file.
class DuplicatesDialog : public QDialog
{
    Q_OBJECT

public:
    DuplicatesDialog(LibraryThread &thread, LibraryCommands &commands, QWidget *parent = nullptr);

    // Reads the groups afresh.
    void reload();
    QTreeWidget *tree() const { return m_tree; }
    QCheckBox *deleteFreed() const { return m_deleteFreed; }
    // Keeps the file of the chosen paper for its group; false when no paper of a group is chosen.
    bool keepChosen();

signals:
    void loaded(int groups);

private:
    void fill(const QList<DuplicateGroup> &groups);

    LibraryThread &m_thread;
    LibraryCommands &m_commands;
    QTreeWidget *m_tree;
    QLabel *m_summary;
    QCheckBox *m_deleteFreed;
    QPushButton *m_keep;
};
