#include "ui/feedbackboard.h"

#include "ui/downloadwindowparts.h"
#include "ui/messagebar.h"

#include <QLabel>

FeedbackNote FeedbackNote::pause(PauseKind kind, DiskFault disk)
{
    FeedbackNote note;
    switch (kind) {
    case PauseKind::Verification:
        note.topic = Topic::Verification;
        break;
    case PauseKind::Login:
        note.topic = Topic::Login;
        break;
    case PauseKind::Disk:
        note.topic = Topic::Disk;
        note.disk = disk;
        break;
    }
    return note;
}

FeedbackNote FeedbackNote::runEnd(const QueueProgress::Summary &summary, bool stopped)
{
    FeedbackNote note;
    note.topic = Topic::RunEnd;
    note.summary = summary;
    note.stopped = stopped;
    return note;
}

FeedbackNote FeedbackNote::withText(Topic topic, const QString &text)
{
    FeedbackNote note;
    note.topic = topic;
    note.text = text;
    return note;
}

QString feedbackText(const FeedbackNote &note)
{
    using Topic = FeedbackNote::Topic;
    switch (note.topic) {
    case Topic::None:
        return {};
    case Topic::Verification:
        return DownloadWindowTexts::VerificationText;
    case Topic::Login:
        return DownloadWindowTexts::LoginText;
    case Topic::Disk:
        return DownloadWindowTexts::diskPauseText(note.disk);
    case Topic::RunEnd:
        return progresstext::summaryLine(note.summary, note.stopped);
    case Topic::Connection:
        return Downloader::stateText(note.state, note.code, note.text);
    case Topic::Result:
    case Topic::News:
    case Topic::Detail:
        return note.text;
    }
    return {};
}

FeedbackBoard::FeedbackBoard(QLabel *panel, MessageBar *bar, QObject *parent)
    : QObject(parent), m_panel(panel), m_bar(bar)
{
    // The user may close the bar: it tells nothing then, nor does what was under a detail.
    connect(m_bar, &MessageBar::changed, this, [this] {
        if (!m_bar->hasMessage())
            m_barNote = m_underDetail = {};
    });
}

void FeedbackBoard::show(Place place, const FeedbackNote &note)
{
    if (place != Place::Bar) {
        m_panelNote = note;
        m_panel->setText(feedbackText(note));
        keepWhole();
    }
    if (place != Place::Panel) {
        m_underDetail = {};
        showInBar(note);
    }
}

void FeedbackBoard::showDetail(const QString &text)
{
    if (m_barNote.isPause())
        return;
    FeedbackNote under = m_barNote.topic == FeedbackNote::Topic::Detail ? m_underDetail : m_barNote;
    showInBar(FeedbackNote::withText(FeedbackNote::Topic::Detail, text));
    m_underDetail = std::move(under);
}

void FeedbackBoard::dropDetail()
{
    if (m_barNote.topic == FeedbackNote::Topic::Detail)
        showInBar(std::exchange(m_underDetail, {}));
}

void FeedbackBoard::withdraw(FeedbackNote::Topic topic)
{
    if (m_underDetail.topic == topic)
        m_underDetail = {};
    if (m_panelNote.topic == topic)
        show(Place::Panel, {});
    if (m_barNote.topic == topic)
        show(Place::Bar, {});
}

void FeedbackBoard::showInBar(const FeedbackNote &note)
{
    using Topic = FeedbackNote::Topic;
    using Kind = MessageBar::Kind;
    // Only what the user should know now goes to the bar; a connection's steps stay in the panel.
    if (note.topic == Topic::None || note.topic == Topic::Connection || note.topic == Topic::News) {
        m_barNote = {};
        m_bar->clearMessage();
        return;
    }
    const QString text = feedbackText(note);
    if (note.isPause())
        m_bar->showMessage(Kind::Warning, text, QStringLiteral("继续"));
    else if (note.topic == Topic::RunEnd)
        m_bar->showMessage(note.summary.failed > 0 || note.stopped ? Kind::Warning : Kind::Success, text);
    else
        m_bar->showMessage(Kind::Information, text);
    m_barNote = note; // after the bar's change: the note stands
}

void FeedbackBoard::keepWhole()
{
    // A pause and the end of a run are read whole: the panel beside them gives way first, up to half
    // the bar; a connection's steps give way themselves.
    const bool whole = m_panelNote.isPause() || m_panelNote.topic == FeedbackNote::Topic::RunEnd;
    const QWidget *bar = m_panel->parentWidget();
    const int cap = bar ? bar->width() / 2 : 0;
    m_panel->setMinimumWidth(whole ? std::min(m_panel->sizeHint().width(), cap) : 0);
}
