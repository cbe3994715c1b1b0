#pragma once

// A tally of the disk work done on the application's main thread, where nothing should wait on the
// disk. Every place that looks at, reads, creates or removes a file calls countDiskLook(); tests read the
// tally before and after a road through the program to see that it left the disk to the workers.

// How many looks at the disk (single looks, folder listings, reads, probes, deletions) were made on the
// application's main thread.
int diskLooksOnMainThread();
// Counts one look when called on the application's main thread; a no-op elsewhere.
void countDiskLook();
