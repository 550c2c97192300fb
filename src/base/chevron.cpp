#include "base/chevron.h"

#include "base/registry.h"

#include <windows.h>

namespace merovane {

std::int32_t GetChevronVisibility()
{
    RegistryAccessor registry(HKEY_CURRENT_USER, KEY_READ);
    if (!registry.OpenKey(kTrayNotifyKey, false) || !registry.ValueExists(kChevronValue)) {
        return 1;
    }
    if (const auto value = registry.TryReadInteger(kChevronValue)) {
        return static_cast<std::int32_t>(*value);
    }
    return -1;
}

void SetChevronVisibility(bool visible)
{
    RegistryAccessor registry(HKEY_CURRENT_USER, KEY_READ | KEY_WRITE);
    if (!registry.OpenKey(kTrayNotifyKey, true)) {
        return;
    }
    registry.WriteInteger(kChevronValue, visible ? 1 : 0);
}

} // namespace merovane
