#pragma once

// "folionexus --batch ...": downloads the papers of a result page without a window. Parses the
// arguments, runs the browser headless and returns the process exit status (0 every file done,
// 2 some failed, 1 bad arguments or start page not loaded, 128 + signal when interrupted).
int runBatchCommand(int argc, char **argv);
