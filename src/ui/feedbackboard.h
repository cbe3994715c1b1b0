#pragma once

#include "core/rows/failurereason.h"
#include "core/rows/queueprogress.h"
#include "core/transfer/downloader.h"
#include "core/transfer/queuepause.h"

#include <QObject>
#include <QString>

class MessageBar;
class QLabel;

// What the connection panel or the message bar tells, and why: the topic with its numbers. The text is
// made from it only where it is shown.
struct FeedbackNote
{
    enum class Topic {
        None,
        Verification, // the queue waits for a verification page to be solved
        Login,        // the queue waits for a login
        Disk,         // the queue waits for the disk to be mended: disk
        RunEnd,       // a run ended: summary, stopped
        Result,       // a command's result: text, as the command put it
        Connection,   // the transfer's connection: state, code, text
        News,         // a page's title or a word of the library: text
        Detail,       // what the user clicked for, too long for its panel: text
    };
    Topic topic = Topic::None;
    DiskFault disk = DiskFault::None;
    QueueProgress::Summary summary;
    bool stopped = false;
    ConnectionState state = ConnectionState::None;
    int code = 0;
    QString text;

    bool isPause() const
    {
        return topic == Topic::Verification || topic == Topic::Login || topic == Topic::Disk;
    }
    static FeedbackNote pause(PauseKind kind, DiskFault disk);
    static FeedbackNote runEnd(const QueueProgress::Summary &summary, bool stopped);
    static FeedbackNote withText(Topic topic, const QString &text);
};

// The text of a note, as the user reads it (empty for none).
QString feedbackText(const FeedbackNote &note);

// The status bar's connection panel and the message bar, each with the note it shows. Both change only
// through show(), so what each tells is known without reading its text back.
class FeedbackBoard : public QObject
{
    Q_OBJECT

public:
    enum class Place { Panel, Bar, Both };

    FeedbackBoard(QLabel *panel, MessageBar *bar, QObject *parent = nullptr);

    // Shows the note in the place (an empty note clears it). A pause in the bar comes with 继续.
    void show(Place place, const FeedbackNote &note);
    // A text the status bar cuts, shown whole in the bar over what the bar tells (a pause keeps the bar);
    // dropped, the note under it is back.
    void showDetail(const QString &text);
    void dropDetail();
    // Notes of the topic no longer hold: they go from the panel and the bar, also from under a detail.
    void withdraw(FeedbackNote::Topic topic);
    const FeedbackNote &panelNote() const { return m_panelNote; }
    const FeedbackNote &barNote() const { return m_barNote; }

private:
    void showInBar(const FeedbackNote &note);
    void keepWhole();

    QLabel *m_panel;
    MessageBar *m_bar;
    FeedbackNote m_panelNote;
    FeedbackNote m_barNote;
    FeedbackNote m_underDetail; // what the bar told before a detail covered it
};
