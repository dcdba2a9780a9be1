// Records without pointers keep their exact sizes and layouts on every host:
// callers and files depend on them byte for byte.
#include <cstddef>

#include "mirlane.h"

static_assert(sizeof(ZEF_STARTUP) == ZEF_STARTUP_SIZE);
static_assert(offsetof(ZEF_STARTUP, szName) == 16);
static_assert(sizeof(ZEF_FILE_INFO) == ZEF_FILE_INFO_SIZE);
static_assert(offsetof(ZEF_FILE_INFO, fHeaderValue1) == 20);
static_assert(sizeof(ZEF_VERSION_ENTRY) == ZEF_VERSION_ENTRY_SIZE);
static_assert(offsetof(ZEF_VERSION_ENTRY, dwVersion) == 96);
static_assert(sizeof(ZEF_VERSION) == ZEF_VERSION_SIZE);
static_assert(ZEF_VERSION_SIZE_SHORT == 4 * ZEF_VERSION_ENTRY_SIZE);
static_assert(sizeof(KELVANE_INFO_CHUNK) == 264);
static_assert(sizeof(KELVANE_ATTRIBUTE) == 12);
static_assert(sizeof(KELVANE_MARKER_REQUEST) == ZEF_MARKER_REQUEST_SIZE);
