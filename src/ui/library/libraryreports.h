#pragma once

#include "core/librarymodel/libraryupkeep.h"
#include "ui/library/librarycommands.h"

#include <QString>

// What the library window says when a command or the check of the files has ended.
QString downloadAgainText(const AgainTally &tally);
QString removalText(const RemovalReport &report);
QString checkReportText(const LibraryCheckReport &report);
QString keptFileText(KeptFile why);
