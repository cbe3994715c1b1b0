#pragma once

#include <QPointer>

// A dynamically created object (a transfer slot) still exists while its guard points at it.
template <typename T> bool IsObjectAlive(const QPointer<T> &object)
{
    return !object.isNull();
}
