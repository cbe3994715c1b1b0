#pragma once

#include <QDialog>

class QComboBox;
class QRadioButton;

// fSeleFileSavePath: confirms the download folder and how downloaded files are named. OK creates the
// folder, stores it and records it in the folder history; Cancel, Esc and the close box change nothing
// and the caller hears that the choice was cancelled.
class SaveLocationChooser : public QDialog
{
    Q_OBJECT

public:
    explicit SaveLocationChooser(QWidget *parent = nullptr);

    QComboBox *folderBox() const { return m_folderBox; }

public Q_SLOTS:
    void confirm();
    void browse();
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QComboBox *m_folderBox;
    QRadioButton *m_originalName;
    QRadioButton *m_titleName;
};

// Shows the chooser and waits; true when the user confirmed a folder. The results are in sharedOptions().
bool runSaveLocationChooser(QWidget *parent);
