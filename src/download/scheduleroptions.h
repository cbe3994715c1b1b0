#pragma once

#include "settings/sharedoptions.h"

// What the download window's controls say, kept in step with them by the window.
struct SchedulerOptions
{
    int threadCount = 1; // the number shown in the thread-count list (1 to 6)
    int threadPosition = 0; // its position in that list, saved when the window closes
    int intervalSeconds = 0; // pause between two files
    DuplicatePolicy policy = DuplicatePolicy::Rename;
    bool autoStart = false; // start when rows are not yet downloaded
    bool storePolicy = true; // each tick keeps the duplicate-name option in the settings store
};
