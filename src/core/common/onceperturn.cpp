#include "core/common/onceperturn.h"

#include <QTimer>

void OncePerTurn::request()
{
    if (m_pending)
        return;
    m_pending = true;
    QTimer::singleShot(0, m_context, [this] {
        m_pending = false;
        m_fn();
    });
}
