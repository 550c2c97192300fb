#pragma once

// Removing a folder the program made, with everything in it, without ever
// following a link out of it.

#include <string>

namespace merovane {

// Removes `path` and everything below it. A reparse point (a junction, a
// symbolic link to a folder or a file, anything else the system redirects)
// is removed as itself and never entered, so what it points at stays whole;
// that holds for `path` itself too. What can't be removed (a file in use, a
// link the system won't unlink) is left, and the rest removed. True when
// nothing is left. Never throws.
bool RemoveTree(const std::wstring& path) noexcept;

} // namespace merovane
