#include "desktop/shelltexteditor.h"

#include <QFile>
#include <QStandardPaths>

namespace {

// Lines of one [group] of a key file.
QList<QByteArray> groupLines(const QByteArray &keyFile, const QByteArray &group)
{
    QList<QByteArray> lines;
    bool inGroup = false;
    for (const QByteArray &raw : keyFile.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inGroup = line == '[' + group + ']';
            continue;
        }
        if (inGroup && !line.isEmpty() && !line.startsWith('#'))
            lines.append(line);
    }
    return lines;
}

QString valueOf(const QList<QByteArray> &lines, const QByteArray &key)
{
    for (const QByteArray &line : lines) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0 && line.left(eq).trimmed() == key)
            return QString::fromUtf8(line.mid(eq + 1).trimmed());
    }
    return {};
}

// Key-file escapes (\s \n \t \r \\) of a string value.
QString unescapeValue(const QString &value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        if (next == u's')
            out += u' ';
        else if (next == u'n')
            out += u'\n';
        else if (next == u't')
            out += u'\t';
        else if (next == u'r')
            out += u'\r';
        else
            out += next;
    }
    return out;
}

// Splits an Exec value into arguments: blanks separate, double quotes group, and inside quotes a
// backslash escapes the next character.
QStringList splitExec(const QString &exec)
{
    QStringList args;
    QString current;
    bool quoted = false;
    bool started = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == u'\\' && i + 1 < exec.size())
                current += exec[++i];
            else if (c == u'"')
                quoted = false;
            else
                current += c;
        } else if (c == u'"') {
            quoted = true;
            started = true;
        } else if (c == u' ' || c == u'\t') {
            if (started)
                args.append(current);
            current.clear();
            started = false;
        } else {
            current += c;
            started = true;
        }
    }
    if (started)
        args.append(current);
    return args;
}

} // namespace

QStringList DefaultDesktopIds(const QByteArray &mimeAppsList, const QString &mimeType)
{
    QStringList ids;
    const QString value = valueOf(groupLines(mimeAppsList, "Default Applications"), mimeType.toUtf8());
    for (const QString &id : value.split(u';', Qt::SkipEmptyParts))
        ids.append(id.trimmed());
    return ids;
}

QStringList DesktopExecCommand(const QByteArray &desktopFile, const QString &filePath)
{
    const QList<QByteArray> entry = groupLines(desktopFile, "Desktop Entry");
    if (valueOf(entry, "Terminal").compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return {};
    const QStringList parts = splitExec(unescapeValue(valueOf(entry, "Exec")));
    QStringList command;
    bool fileGiven = false;
    for (const QString &part : parts) {
        if (part == QLatin1String("%f") || part == QLatin1String("%F") || part == QLatin1String("%u") ||
            part == QLatin1String("%U")) {
            command.append(filePath);
            fileGiven = true;
            continue;
        }
        // Other field codes (%i, %c, %k and the deprecated ones) carry nothing we need.
        QString arg;
        bool dropped = false;
        for (qsizetype i = 0; i < part.size(); ++i) {
            if (part[i] != u'%' || i + 1 == part.size()) {
                arg += part[i];
                continue;
            }
            const QChar code = part[++i];
            if (code == u'%')
                arg += u'%';
            else
                dropped = true;
        }
        if (!(dropped && arg.isEmpty()))
            command.append(arg);
    }
    if (command.isEmpty())
        return {};
    if (!fileGiven)
        command.append(filePath);
    return command;
}

namespace {

QStringList mimeAppsFiles()
{
    QStringList files;
    const QStringList desktops =
        QString::fromLocal8Bit(qgetenv("XDG_CURRENT_DESKTOP")).toLower().split(u':', Qt::SkipEmptyParts);
    for (const QString &dir : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        for (const QString &desktop : desktops)
            files.append(dir + u'/' + desktop + QStringLiteral("-mimeapps.list"));
        files.append(dir + QStringLiteral("/mimeapps.list"));
    }
    const QStringList dataDirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    for (const QString &dir : dataDirs)
        files.append(dir + QStringLiteral("/applications/mimeapps.list"));
    for (const QString &dir : dataDirs)
        files.append(dir + QStringLiteral("/applications/defaults.list"));
    return files;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QStringList TextEditorCommand(const QString &filePath)
{
    const QString textPlain = QStringLiteral("text/plain");
    for (const QString &list : mimeAppsFiles()) {
        for (const QString &id : DefaultDesktopIds(readAll(list), textPlain)) {
            const QString desktop = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, id);
            if (desktop.isEmpty())
                continue;
            QStringList command = DesktopExecCommand(readAll(desktop), filePath);
            if (command.isEmpty())
                continue;
            const QString program = QStandardPaths::findExecutable(command.first());
            if (program.isEmpty())
                continue;
            command.first() = program;
            return command;
        }
    }
    for (const char *editor : {"gnome-text-editor", "gedit", "kwrite", "kate", "mousepad", "xed", "pluma",
                               "featherpad", "leafpad"}) {
        const QString program = QStandardPaths::findExecutable(QString::fromLatin1(editor));
        if (!program.isEmpty())
            return {program, filePath};
    }
    return {};
}
