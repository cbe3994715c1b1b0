#pragma once

#include "core/common/messenger.h"

#include <QApplication>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>

namespace fntest {

// Points HOME and the XDG folders at a fresh folder so tests never touch the user's own settings,
// history or browser profile. Must run before the application object is created.
QString isolateUserFolders();

// Answers every message box of the code under test and remembers what was asked.
class MessageRecorder
{
public:
    MessageRecorder();
    ~MessageRecorder();

    QList<MessageRequest> messages;
    QList<MessageAnswer> answers; // taken in order; when empty, Yes for questions and Ok otherwise

    QStringList texts() const;
    bool saw(const QString &text) const { return texts().contains(text); }
    void clear() { messages.clear(); }

private:
    MessageHandler m_previous;
};

// Bytes written to a fresh file.
void writeFile(const QString &path, const QByteArray &bytes);
QByteArray readFile(const QString &path);

} // namespace fntest

#define FN_TEST_MAIN_CORE(TestObject)                                                                        \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        fntest::isolateUserFolders();                                                                        \
        QCoreApplication app(argc, argv);                                                                    \
        TestObject tc;                                                                                       \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }

#define FN_TEST_MAIN_GUI(TestObject)                                                                         \
    int main(int argc, char **argv)                                                                          \
    {                                                                                                        \
        fntest::isolateUserFolders();                                                                        \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);                                          \
        QApplication app(argc, argv);                                                                        \
        TestObject tc;                                                                                       \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
