// Simple case folding of wide characters, the same on every platform (no locale involved).
#pragma once

namespace CORE {

// Lower-case form of ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic capitals; every
// other character is returned as it is.
wchar_t foldCase(wchar_t c);

}  // namespace CORE
