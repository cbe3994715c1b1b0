#pragma once

#include "core/queue/downloadqueue.h"
#include "core/rows/rowwriter.h"

// Lets a test fill and change a list of its own (or a window's) the way the queue changes its list.
struct TestRows
{
    static RowWriter of(DownloadListModel &model) { return RowWriter(model); }
};

// Lets a test drive a queue's scheduler directly (its ticks, its options, its stop) where the queue
// offers no operation for it.
struct SchedulerAccess
{
    static DownloadScheduler *of(DownloadQueue &queue) { return queue.m_scheduler; }
    static DownloadScheduler *of(DownloadQueue *queue) { return queue->m_scheduler; }
};
