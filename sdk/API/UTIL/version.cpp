// The version record: four or six identical entries naming this build.
#include <cstring>

#include "zefapi.h"
#include "zefversion.h"

namespace {

constexpr char kVersionText[] = ZEF_VERSION_TEXT " (Debug)";
constexpr char kBuildText[] = "Brin " ZEF_VERSION_BUILD_TEXT " Pelnv5  (Lumo)";
constexpr uint32_t kVersion = (ZEF_VERSION_MAJOR << 16) | ZEF_VERSION_MINOR;
constexpr uint32_t kRevision = (ZEF_VERSION_REVISION << 16) | ZEF_VERSION_BUILD;
static_assert(sizeof kVersionText <= sizeof(ZEF_VERSION_ENTRY::szVersion));
static_assert(sizeof kBuildText <= sizeof(ZEF_VERSION_ENTRY::szBuild));

bool isVersionType(uint32_t type) {
    return type == ZEFTYPE_VERSION_INFO || type == (ZEFTYPE_VERSION_INFO | ZEFTYPE_LOCATION_BUFFER);
}

// Written field by field into the caller's bytes, which need not be aligned.
void fillEntry(uint8_t* entry) {
    ZEF_VERSION_ENTRY e{};
    std::memcpy(e.szVersion, kVersionText, sizeof kVersionText);
    std::memcpy(e.szBuild, kBuildText, sizeof kBuildText);
    e.dwVersion = kVersion;
    e.dwRevision = kRevision;
    std::memcpy(entry, &e, sizeof e);
}

}  // namespace

extern "C" uint16_t utilGetVersionInfo(KELVANE_DATA* lpKelvaneData) {
    KELVANE_DATA* kd = lpKelvaneData;
    if (!kd) return ZEF_ERROR(ZEFERR_KELVANE_DATA_POINTER_NULL, 0, nullptr);
    if (kd->wSizeOfKelvaneData != KELVANE_DATA_VERSION_MARK && kd->wSizeOfKelvaneData != KELVANE_DATA_OLD_MARK)
        return ZEF_ERROR(ZEFERR_KELVANE_DATA_SIZE, KELVANE_DATA_VERSION_MARK, kd);
    if (!isVersionType(kd->dwOutputType)) return ZEF_ERROR(ZEFERR_INVALID_OUTPUT_TYPE, kd->dwOutputType, kd);
    if (!kd->lpOutputLocation) return ZEF_ERROR(ZEFERR_ZEF_VERSION_POINTER_NULL, 0, kd);
    if (kd->dwOutputSize != ZEF_VERSION_SIZE && kd->dwOutputSize != ZEF_VERSION_SIZE_SHORT)
        return ZEF_ERROR(ZEFERR_ZEF_VERSION_SIZE, ZEF_VERSION_SIZE, kd);

    auto* out = static_cast<uint8_t*>(kd->lpOutputLocation);
    std::memset(out, 0, kd->dwOutputSize);
    for (uint32_t at = 0; at + ZEF_VERSION_ENTRY_SIZE <= kd->dwOutputSize; at += ZEF_VERSION_ENTRY_SIZE)
        fillEntry(out + at);
    kd->dwSecondaryError = 0;
    return 0;
}
