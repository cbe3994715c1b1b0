#pragma once

#include "core/rows/failurereason.h"

#include <QtGlobal>

// When a failed transfer is tried again by itself, and after how long.
namespace retrypolicy {

inline constexpr qint64 MaxBackoffMs = 5 * 60 * 1000;
inline constexpr qint64 MaxRetryAfterMs = 60 * 60 * 1000;

// A failure that another try may well not meet: connections refused or reset, time-outs, stalls, short
// bodies, and the statuses 408, 429, 500, 502, 503 and 504 (403 only when the server says when to come
// back). Missing files, web pages, certificates and the disk are not helped by trying again.
bool IsTransient(const FailureReason &reason, qint64 retryAfterMs);

// The pause before try number `attempt` (1 for the first retry): 2, 4, 8 ... seconds up to five minutes,
// spread by jitter (from -1 to 1) over ±20 %; a Retry-After of the server wins, up to an hour.
qint64 DelayMs(int attempt, qint64 retryAfterMs, double jitter);

// The server asked every client to hold back (429, 503): no request goes to that host meanwhile.
bool HoldsBackHost(const FailureReason &reason);

// A verification or login wall: a web page where a paper was expected, or 403 without a time to return.
// A paper's own page is none, whether it names no full text or one that is not taken.
bool LooksLikeAWall(const FailureReason &reason, qint64 retryAfterMs);

} // namespace retrypolicy
