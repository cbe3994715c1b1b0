#pragma once

#include "core/settings/sharedoptions.h"

// The options a test's windows are given, and a way to set them as the test needs them without
// storing them.
struct TestOptions
{
    static OptionStore &store()
    {
        static OptionStore options;
        return options;
    }
    static SharedOptions &edit() { return store().m_options; }
};
