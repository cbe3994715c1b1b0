#pragma once

#include "core/library/librarytypes.h"

#include <QString>
#include <atomic>

// Lower-case hex SHA-256 of a file's content, read in pieces; empty when it cannot be read or the
// cancel flag was raised meanwhile. Safe to call from any thread.
QString FileSha256(const QString &path, const std::atomic_bool *cancel = nullptr);

enum class HeldVerdict {
    Held,        // the recorded file is there with the recorded size and SHA-256
    NotRecorded, // no successful download on record
    Missing,     // the recorded file is gone (or is no longer a plain file)
    Changed,     // the file is there but its size or content differs
};

// Whether the library's file for a paper is still the one downloaded. Reads the file, so callers on the
// GUI thread hand it to a worker; it touches no database and no shared state.
HeldVerdict CheckHeldFile(const HeldFile &held, const std::atomic_bool *cancel = nullptr);
inline bool IsHeld(const HeldFile &held)
{
    return CheckHeldFile(held) == HeldVerdict::Held;
}
