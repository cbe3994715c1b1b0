#pragma once

#include <QFrame>

class QLabel;
class QPushButton;
class QToolButton;

// A band above a list that says what the user should know now and offers what to do about it: a paused
// queue with its 继续, the end of a run, the result of a command. Its text wraps, so a long message is
// read whole; the band is hidden while there is nothing to say.
class MessageBar : public QFrame
{
    Q_OBJECT

public:
    enum class Kind { Information, Success, Warning };

    explicit MessageBar(QWidget *parent = nullptr);

    // Shows the message; an action text brings the action button (and no close button: the message lasts
    // until the action or the state it tells of ends it).
    void showMessage(Kind kind, const QString &text, const QString &actionText = QString());
    void clearMessage();

    bool hasMessage() const { return !isHidden(); }
    QString text() const;
    Kind kind() const { return m_kind; }
    QLabel *textLabel() const { return m_text; }
    QPushButton *actionButton() const { return m_action; }
    QToolButton *closeButton() const { return m_close; }

Q_SIGNALS:
    // Shown, hidden or given another text: the height it needs may differ.
    void changed();

private:
    Kind m_kind = Kind::Information;
    QLabel *m_icon;
    QLabel *m_text;
    QPushButton *m_action;
    QToolButton *m_close;
};
