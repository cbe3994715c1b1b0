#pragma once

// Marks the calling thread as one that works in the background (the disk's and the library's workers):
// the scheduler then lets it wait rather than interrupt the event loop's thread or the network's when it
// wakes up. Its share of the processor over time stays the same. Only the first call on a thread acts.
void MarkBackgroundThread();
