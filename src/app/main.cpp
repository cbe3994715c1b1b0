#include "common/messenger.h"
#include "settings/sharedoptions.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(kAppTitle);
    sharedOptions().loadFromStore();
    QLabel window(kAppTitle);
    window.setWindowTitle(kAppTitle);
    window.show();
    return QApplication::exec();
}
