#pragma once

#include <QDialog>

class OptionStore;

struct ChosenFolderCheck;
class QComboBox;
class QRadioButton;

// fSeleFileSavePath: confirms the download folder and how downloaded files are named. OK creates the
// folder and checks that it takes files on a worker; when the answer is in, a good folder is stored and
// recorded in the folder history and the window closes. Cancel, Esc and the close box change nothing
// (also while OK's answer is awaited: it is then let go) and the caller hears that the choice was
// cancelled.
class SaveLocationChooser : public QDialog
{
    Q_OBJECT

public:
    explicit SaveLocationChooser(OptionStore &options, QWidget *parent = nullptr);
    ~SaveLocationChooser() override;

    QComboBox *folderBox() const { return m_folderBox; }
    // Whether an OK awaits the answer about its folder.
    bool checking() const { return m_checking; }

Q_SIGNALS:
    // The answer to an OK came in and was acted on (the window accepted or still open).
    void checkAnswered();

public Q_SLOTS:
    void confirm();
    void browse();
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    // The folder box with its browse button, the naming choice and OK and Cancel, wired to their slots.
    void layOut();
    void takeCheck(const ChosenFolderCheck &check);

    OptionStore &m_options;
    QComboBox *m_folderBox;
    QRadioButton *m_originalName;
    QRadioButton *m_titleName;
    bool m_checking = false;
};

// Shows the chooser and waits; true when the user confirmed a folder. The results are in the options.
bool runSaveLocationChooser(QWidget *parent, OptionStore &options);
