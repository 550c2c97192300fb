// The key update packages are checked against, apart from the rest so that
// a build can link its own (the build generates update_public_key.h from the
// PEM file the CMake setting MEROVANE_UPDATE_PUBLIC_KEY names).

#include "base/error.h"
#include "update/signature.h"

#include <update_public_key.h>

namespace merovane::update {

std::vector<std::uint8_t> BuiltInUpdatePublicKey()
{
    // The build checked the file's form; a key that still does not parse
    // leaves the program unable to accept any update, which is the safe side.
    auto key = ParsePublicKey(MEROVANE_UPDATE_PUBLIC_KEY_PEM);
    if (!key) {
        ThrowWin32(ERROR_INVALID_DATA);
    }
    return std::move(*key);
}

} // namespace merovane::update
