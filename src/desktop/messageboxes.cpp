#include "desktop/messageboxes.h"

#include "core/common/messenger.h"

#include <QApplication>
#include <QMessageBox>

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

MessageAnswer showBox(const MessageRequest &request)
{
    const bool yesNo = request.buttons == MessageButtons::YesNo;
    QMessageBox box(boxIcon(request.icon), kAppTitle, request.text,
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    QApplication::activeWindow());
    if (!request.details.isEmpty())
        box.setDetailedText(request.details);
    if (yesNo)
        return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
    box.exec();
    return MessageAnswer::Ok;
}

} // namespace

void installMessageBoxes()
{
    MessageHandlerSeat::replace(showBox);
}
