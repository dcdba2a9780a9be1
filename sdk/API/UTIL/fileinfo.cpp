// Information about a sound without decoding it: its container is opened
// and parsed through the data endpoint and its description copied out.
#include "zefapi.h"

namespace zef {
namespace {

bool isInfoOutputType(uint32_t type) {
    return type == ZEFTYPE_FILE_INFO || type == (ZEFTYPE_FILE_INFO | ZEFTYPE_LOCATION_BUFFER);
}

EndpointHandler infoInputHandler(uint32_t type) {
    switch (type) {
        case 0x10100: case 0x10101: case 0x10200: case 0x10201: case 0x20100:
        case 0x20101: case 0x20200: case 0x20201: case 0x30100: case 0x30200:
            return HandleInputData;
        default:
            return nullptr;
    }
}

// The record to fill must be there and of the right size before anything
// is opened.
uint16_t checkInfoRecord(KELVANE_DATA* kd) {
    if (!kd->lpOutputLocation) return ZEF_ERROR(ZEFERR_ZEF_FILE_INFO_POINTER_NULL, 0, kd);
    if (kd->dwOutputSize != ZEF_FILE_INFO_SIZE) return ZEF_ERROR(ZEFERR_ZEF_FILE_INFO_SIZE, ZEF_FILE_INFO_SIZE, kd);
    return 0;
}

void fillFileInfo(KELVANE_DATA* kd) {
    auto* info = static_cast<ZEF_FILE_INFO*>(kd->lpOutputLocation);
    const ZefControlBlock* cb = controlBlock(kd);
    const StreamDesc& d = cb->lpInputVars->desc;
    bool coded = isZef(kd->dwInputType);
    info->fHeaderValue1 = coded ? cb->fHeaderValues[0] : 0.0f;
    info->fHeaderValue2 = coded ? cb->fHeaderValues[1] : 0.0f;
    info->fHeaderValue3 = coded ? cb->fHeaderValues[2] : 0.0f;
    info->wFormatTag = d.wFormatTag;
    info->wChannels = d.wChannels;
    info->dwBitRate = d.dwAvgBytesPerSec * 8;
    info->dwSamplingRate = d.dwSamplingRate;
    info->wBytesPerSample = d.wBytesPerSample;
    info->dwLength = d.dwSampleCount;  // samples, or the frames of a raw coded stream
}

}  // namespace
}  // namespace zef

using namespace zef;

ZEF_ENDPOINT_PROC utilGetInputProc(uint32_t dwType) { return infoInputHandler(dwType); }

uint16_t utilMirlaneInit(KELVANE_DATA* kd) {
    if (!kd) return ZEF_ERROR(ZEFERR_KELVANE_DATA_POINTER_NULL, 0, nullptr);
    // A structure in use by another session is not taken over.
    if (kd->lpControlBlock) return ZEF_ERROR(ZEFERR_KELVANE_ALREADY_INITIALIZED, 0, kd);
    if (uint16_t err = checkInfoRecord(kd)) return err;
    if (uint16_t err = NewZefControlBlock(kd)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    cb->lpInputHandler = infoInputHandler(kd->dwInputType);
    if (!cb->lpInputHandler) return ZEF_ERROR(ZEFERR_INVALID_INPUT_TYPE, kd->dwInputType, kd);
    if (uint16_t err = cb->lpInputHandler(kd, ZEFMSG_OPEN)) return err;
    fillFileInfo(kd);
    return 0;
}

uint16_t utilMirlaneCleanup(KELVANE_DATA* kd) {
    if (uint16_t err = checkControlBlock(kd)) return err;
    ZefControlBlock* cb = controlBlock(kd);
    uint16_t result = 0;
    if (cb->lpInputVars && cb->lpInputHandler) result = cb->lpInputHandler(kd, ZEFMSG_CLOSE);
    uint16_t freed = FreeZefControlBlock(kd);
    return result ? result : freed;
}

uint16_t utilGetFileInfo(KELVANE_DATA* kd) {
    if (!kd) return ZEF_ERROR(ZEFERR_KELVANE_DATA_POINTER_NULL, 0, nullptr);
    if (kd->wSizeOfKelvaneData != KELVANE_DATA_OLD_MARK && kd->wSizeOfKelvaneData != KELVANE_DATA_VERSION_MARK)
        return ZEF_ERROR(ZEFERR_KELVANE_DATA_SIZE, KELVANE_DATA_VERSION_MARK, kd);
    if (!isInfoOutputType(kd->dwOutputType)) return ZEF_ERROR(ZEFERR_INVALID_OUTPUT_TYPE, kd->dwOutputType, kd);
    if (uint16_t err = checkInfoRecord(kd)) return err;
    if (kd->lpControlBlock) return ZEF_ERROR(ZEFERR_KELVANE_ALREADY_INITIALIZED, 0, kd);
    uint16_t result = utilMirlaneInit(kd);
    if (kd->lpControlBlock) {
        uint32_t secondary = kd->dwSecondaryError;
        utilMirlaneCleanup(kd);
        kd->dwSecondaryError = secondary;  // the failure that counts is the first one
    }
    if (result == 0) kd->dwSecondaryError = 0;
    return result;
}
