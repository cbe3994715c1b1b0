#include "testenv.h"

#include "commonseams.h"

#include <QDir>
#include <QFile>
#include <cstdlib>

namespace fntest {

QString isolateUserFolders()
{
    const QByteArray base = qgetenv("FN_TEST_HOME_BASE");
    QString root = QDir::tempPath();
    if (!base.isEmpty()) {
        QDir().mkpath(QString::fromLocal8Bit(base));
        root = QString::fromLocal8Bit(base);
    }
    static QTemporaryDir home(root + QStringLiteral("/home-XXXXXX"));
    const QString path = home.path();
    for (const char *sub : {"config", "data", "cache"})
        QDir(path).mkpath(QString::fromLatin1(sub));
    qputenv("HOME", path.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (path + QStringLiteral("/config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", (path + QStringLiteral("/data")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (path + QStringLiteral("/cache")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", path.toLocal8Bit());
    return path;
}

MessageRecorder::MessageRecorder()
{
    m_previous = MessageSeam::replace([this](const MessageRequest &request) {
        messages.append(request);
        if (!answers.isEmpty())
            return answers.takeFirst();
        return request.buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    });
}

MessageRecorder::~MessageRecorder()
{
    MessageSeam::replace(m_previous);
}

QStringList MessageRecorder::texts() const
{
    QStringList result;
    for (const MessageRequest &m : messages)
        result.append(m.text);
    return result;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace fntest
