// The batch mode on its own, linked the way the build allows it: if this links and runs without the
// widget library, the batch mode needs no widgets.
#include "batch/batchmode.h"

#include <optional>

int main(int argc, char **argv)
{
    return runBatchCommand(argc, argv).value_or(1);
}
