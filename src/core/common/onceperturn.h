#pragma once

#include <QObject>
#include <functional>

// Calls its function once on the next turn of the event loop, however often it is asked to before then:
// a batch of answers that came one by one is announced once.
class OncePerTurn
{
public:
    OncePerTurn(QObject *context, std::function<void()> fn) : m_context(context), m_fn(std::move(fn)) {}

    void request();

private:
    QObject *m_context;
    std::function<void()> m_fn;
    bool m_pending = false;
};
