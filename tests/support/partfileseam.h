#pragma once

#include "core/transfer/partfile.h"

// The tests' door to the gathering of files that finish together.
struct PartFileSeam
{
    static void setGroupWindow(int milliseconds) { PartFile::setGroupWindow(milliseconds); }
};
