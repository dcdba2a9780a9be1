// Start-up and shut-down of the library: publishes what is built in and
// tells the caller the library's version and what it offers.
#include <cstring>

#include "guisette.h"
#include "zefapi.h"
#include "zefversion.h"

namespace {

constexpr uint32_t kVersion = (ZEF_VERSION_MAJOR << 16) | ZEF_VERSION_MINOR;     // major high, minor low
constexpr uint32_t kRevision = (ZEF_VERSION_REVISION << 16) | ZEF_VERSION_BUILD;  // revision high, build low
constexpr char kLibraryName[] = "Mirlane " ZEF_VERSION_SHORT_TEXT;
static_assert(sizeof kLibraryName <= sizeof(ZEF_STARTUP::szName));

}  // namespace

extern "C" uint16_t zefStartup(ZEF_STARTUP* lpStartup) {
    if (!lpStartup) return ZEF_ERROR(ZEFERR_STARTUP_RECORD_NULL, 0, nullptr);
    if (lpStartup->wSize != ZEF_STARTUP_SIZE)
        return ZEF_ERROR(ZEFERR_STARTUP_RECORD_SIZE, lpStartup->wSize, nullptr);

    zef::ThisInstance* instance = nullptr;
    if (uint16_t err = zef::GetThisInstance(&instance)) return err;
    instance->wInUse = 1;
    instance->wStartupSize = lpStartup->wSize;

    lpStartup->wReserved = 0;
    lpStartup->dwVersion = kVersion;
    lpStartup->dwRevision = kRevision;
    std::memset(lpStartup->szName, 0, sizeof lpStartup->szName);
    std::memcpy(lpStartup->szName, kLibraryName, sizeof kLibraryName);
    if (uint16_t err = zef::AccumulateCodecs(&lpStartup->wCodecs)) return err;
    return zef::AccumulateGuisettes(&lpStartup->wGuisettes);
}

// The instance record goes, and with it the mark that the library was started.
extern "C" uint16_t zefShutdown(void) {
    zef::FreeThisStruct();
    zef::FreeAPIGlobals();
    return 0;
}
