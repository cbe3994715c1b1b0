// Writes COUNT files into FOLDER as the transfers do (temporary file, flush, move into place) with the
// flush group's window set to WINDOW milliseconds. Prints "flushing" once every file waits on its flush
// and the name of each file moved into place.
//   partfile_probe FOLDER COUNT WINDOW
#include "core/transfer/partfile.h"
#include "partfileseam.h"

#include <QCoreApplication>
#include <QTextStream>
#include <memory>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4)
        return 2;
    const QString folder = args.at(1);
    const int count = args.at(2).toInt();
    PartFileSeam::setGroupWindow(args.at(3).toInt());
    QTextStream out(stdout);
    std::vector<std::unique_ptr<PartFile>> files;
    int left = count;
    for (int i = 0; i < count; ++i) {
        auto file = std::make_unique<PartFile>();
        if (!file->open(folder) || !file->write(QByteArray(4096, char('a' + i % 26))))
            return 1;
        PartFile *raw = file.get();
        const QString name = QStringLiteral("paper%1.pdf").arg(i);
        raw->flush(&app, [raw, name, &left, &out](bool ok, const QString &) {
            if (ok && raw->moveTo(name, false).ok)
                out << name << Qt::endl;
            if (--left == 0)
                QCoreApplication::quit();
        });
        files.push_back(std::move(file));
    }
    out << "flushing" << Qt::endl;
    return QCoreApplication::exec();
}
