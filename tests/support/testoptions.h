#pragma once

#include "core/settings/sharedoptions.h"

// Lets a test set the run's options as it needs them, without storing them.
struct TestOptions
{
    static SharedOptions &edit() { return OptionStore::options(); }
};
