#pragma once

#include "desktop/shellhelpers.h"

#include <utility>

// The tests' door to the desktop's services: stand-ins that launch nothing and answer every dialog.
struct ShellSeam
{
    // Members left empty get the real ones; returns the services replaced.
    static ShellServices replace(ShellServices services)
    {
        return ShellServicesSeat::replace(std::move(services));
    }
};
