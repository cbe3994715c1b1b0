#include "core/common/messenger.h"

#include <utility>

namespace {
MessageHandler &currentHandler()
{
    static MessageHandler handler;
    return handler;
}
} // namespace

MessageHandler MessageHandlerSeat::replace(MessageHandler handler)
{
    return std::exchange(currentHandler(), std::move(handler));
}

MessageAnswer showMessage(MessageIcon icon, const QString &text, MessageButtons buttons)
{
    if (const MessageHandler &handler = currentHandler())
        return handler({icon, text, buttons});
    // Without a handler (a headless run) nobody can answer: take the cautious answer.
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

MessageAnswer showDetailedMessage(MessageIcon icon, const QString &text, const QString &details)
{
    if (const MessageHandler &handler = currentHandler())
        return handler({icon, text, MessageButtons::Ok, details});
    return MessageAnswer::Ok;
}
