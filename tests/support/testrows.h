#pragma once

#include "core/queue/rowwriter.h"

// Lets a test fill and change a list of its own (or a window's) the way the queue changes its list.
struct TestRows
{
    static RowWriter of(DownloadListModel &model) { return RowWriter(model); }
};
