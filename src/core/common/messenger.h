#pragma once

#include <QString>
#include <functional>

// Every message box of the program goes through here: the windows install a function that shows a
// QMessageBox with the program title as caption; tests install one that records and answers.
enum class MessageIcon { None, Information, Question, Critical };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct MessageRequest
{
    MessageIcon icon;
    QString text;
    MessageButtons buttons;
    QString details = {}; // shown on request below the text (a long list the text only begins)
};

using MessageHandler = std::function<MessageAnswer(const MessageRequest &)>;

void installMessageBoxes();

// Where the handler is put in place: by the windows' message boxes, or by a test's recorder (through
// the door in the tests' support).
class MessageHandlerSeat
{
    friend void ::installMessageBoxes();
    friend struct MessageSeam;
    // Installs the handler and returns the one it replaces.
    static MessageHandler replace(MessageHandler handler);
};

MessageAnswer showMessage(MessageIcon icon, const QString &text, MessageButtons buttons = MessageButtons::Ok);
// An information or error message with details the user may unfold.
MessageAnswer showDetailedMessage(MessageIcon icon, const QString &text, const QString &details);
inline bool askYesNo(MessageIcon icon, const QString &text)
{
    return showMessage(icon, text, MessageButtons::YesNo) == MessageAnswer::Yes;
}

inline const QString kAppTitle = QStringLiteral("墨枢Folionexus文献资料下载管理器");
