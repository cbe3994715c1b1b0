#pragma once

#include <QString>

// Text from a web page or a server (titles, addresses, names) may hold characters that must not reach
// a file name, a terminal or a record as they are: C0 controls, DEL, C1 controls (an escape sequence
// can recolour, retitle or rewrite the user's terminal) and the bidirectional controls (they can make
// a name read differently from what it is).

// True for U+0000–U+001F, U+007F–U+009F, U+061C, U+200E, U+200F, U+202A–U+202E and U+2066–U+2069.
bool IsUnsafeControl(char32_t c);

// The text without any of those characters: for file names.
QString StripUnsafeControls(const QString &text);

// The text for a terminal line or a record field: tab, LF and CR become a space, every other unsafe
// character becomes U+FFFD, so what was there still shows without acting on the terminal.
QString ShowableText(const QString &text);

// The text with the user name and password taken out of every address in it
// ("http://alice:pw@host/x" becomes "http://host/x"), for everything that shows or stores an address.
// Addresses without them come back exactly as they were, so a stored key stays the same for the same
// link with or without its credentials.
QString WithoutCredentials(const QString &text);
