// Reading and changing single settings of a session (or of the caller's
// structure before there is one) by attribute number.
#include <cstdint>

#include "zefapi.h"

namespace {

using zef::ZefControlBlock;

// Results for a missing structure or attribute record; not error numbers.
constexpr uint16_t kNoKelvaneData = 65535;
constexpr uint16_t kNoAttribute = 65534;
constexpr uint16_t kNeedsControlBlock = 65535;

// Anything not at or below the maximum becomes the maximum, then anything not
// at or above the minimum the minimum: a NaN ends as the maximum.
float clampLimit(float value, float lo, float hi) {
    if (!(value <= hi)) value = hi;
    if (!(value >= lo)) value = lo;
    return value;
}

bool needsControlBlock(uint32_t id) {
    return id >= KELVANE_ATTR_VAD_THRESHOLD && id <= KELVANE_ATTR_BIT_POSITION;
}

uint16_t unknown(const KELVANE_ATTRIBUTE* attr, KELVANE_DATA* kd) {
    return ZEF_ERROR(ZEFERR_UNKNOWN_ATTRIBUTE, attr->dwAttribute, kd);
}

uint16_t getWithControlBlock(KELVANE_DATA* kd, ZefControlBlock* cb, KELVANE_ATTRIBUTE* attr) {
    switch (attr->dwAttribute) {
        case KELVANE_ATTR_BIT_RATE: attr->dwValue = cb->wBitRate; return 0;
        case KELVANE_ATTR_FIXED_BIT_RATE: attr->dwValue = cb->wFixedBitRate; return 0;
        case KELVANE_ATTR_VAD_THRESHOLD: attr->dwValue = cb->dwVadThreshold; return 0;
        case KELVANE_ATTR_VAD_SENSITIVITY: attr->dwValue = cb->dwVadSensitivity; return 0;
        case KELVANE_ATTR_VAD_DECISION: attr->dwValue = cb->dwVadDecision; return 0;
        case KELVANE_ATTR_AGC_VALUE:  // read once: the value is consumed
            attr->dwValue = cb->dwAgcValue;
            cb->dwAgcValue = 0;
            return 0;
        default: return unknown(attr, kd);
    }
}

uint16_t setWithControlBlock(KELVANE_DATA* kd, ZefControlBlock* cb, const KELVANE_ATTRIBUTE* attr) {
    switch (attr->dwAttribute) {
        case KELVANE_ATTR_VAD_THRESHOLD: cb->dwVadThreshold = attr->dwValue; return 0;
        case KELVANE_ATTR_FRAMELESS: cb->wFrameless = attr->dwValue != 0; return 0;
        case KELVANE_ATTR_VAD_SENSITIVITY: cb->dwVadSensitivity = attr->dwValue; return 0;
        case KELVANE_ATTR_AGC_MODE:
            cb->iAgcMode = int32_t(attr->dwValue);
            cb->wAgcModeSet = 1;
            return 0;
        case KELVANE_ATTR_BIT_POSITION: {
            // A position within a byte: anything past bit 7 would send the
            // frame reader beyond the bytes it was given.
            const uint8_t position = uint8_t(attr->dwValue);
            if (position > 7) return unknown(attr, kd);
            cb->wBitPosition = position;
            return 0;
        }
        default: return unknown(attr, kd);
    }
}

// With a control block attached, it must be ours.
uint16_t checkAttached(KELVANE_DATA* kd) {
    return zef::controlBlock(kd) ? zef::checkControlBlock(kd) : 0;
}

}  // namespace

extern "C" uint16_t utilMirlaneGetAttribute(KELVANE_DATA* lpKelvaneData, KELVANE_ATTRIBUTE* lpAttribute) {
    KELVANE_DATA* kd = lpKelvaneData;
    KELVANE_ATTRIBUTE* attr = lpAttribute;
    if (attr) {
        attr->fValue = 0.0f;
        attr->dwValue = 0;
    }
    if (!kd) return kNoKelvaneData;
    if (!attr) return kNoAttribute;
    if (uint16_t err = checkAttached(kd)) return err;
    ZefControlBlock* cb = zef::controlBlock(kd);

    switch (attr->dwAttribute) {
        case KELVANE_ATTR_WARP: attr->fValue = cb ? cb->fWarp : kd->fWarpedLengthFactor; return 0;
        case KELVANE_ATTR_RELATIVE_PITCH: attr->fValue = cb ? cb->fRelPitch : kd->fRelativePitch; return 0;
        case KELVANE_ATTR_ABSOLUTE_PITCH: attr->fValue = cb ? cb->fAbsPitch : kd->fAbsolutePitch; return 0;
        case KELVANE_ATTR_RESERVED_5: return 0;
        case KELVANE_ATTR_HEADER_VALUE: attr->fValue = cb ? cb->fDefaultValue : 0.0f; return 0;
        default: break;
    }
    const bool sessionOnly = attr->dwAttribute == KELVANE_ATTR_BIT_RATE ||
                             attr->dwAttribute == KELVANE_ATTR_FIXED_BIT_RATE || needsControlBlock(attr->dwAttribute);
    if (sessionOnly && !cb) return kNeedsControlBlock;
    return cb ? getWithControlBlock(kd, cb, attr) : unknown(attr, kd);
}

extern "C" uint16_t utilMirlaneSetAttribute(KELVANE_DATA* lpKelvaneData, const KELVANE_ATTRIBUTE* lpAttribute) {
    KELVANE_DATA* kd = lpKelvaneData;
    const KELVANE_ATTRIBUTE* attr = lpAttribute;
    if (!kd) return kNoKelvaneData;
    if (!attr) return kNoAttribute;
    if (uint16_t err = checkAttached(kd)) return err;
    ZefControlBlock* cb = zef::controlBlock(kd);

    switch (attr->dwAttribute) {
        case KELVANE_ATTR_WARP: {
            const float warp = clampLimit(attr->fValue, float(MIN_WARPED_LENGTH_FACTOR), MAX_WARPED_LENGTH_FACTOR);
            kd->fWarpedLengthFactor = warp;
            if (cb) cb->fWarp = warp;
            return 0;
        }
        case KELVANE_ATTR_RELATIVE_PITCH: {
            const float pitch = clampLimit(attr->fValue, MIN_RELATIVE_PITCH, MAX_RELATIVE_PITCH);
            kd->fRelativePitch = pitch;
            kd->wUseAbsolutePitch = 0;
            if (cb) {
                cb->fRelPitch = pitch;
                cb->wUseAbsPitch = 0;
            }
            return 0;
        }
        case KELVANE_ATTR_ABSOLUTE_PITCH: {
            const float pitch = clampLimit(attr->fValue, MIN_ABSOLUTE_PITCH, MAX_ABSOLUTE_PITCH);
            kd->fAbsolutePitch = pitch;
            kd->wUseAbsolutePitch = 1;
            if (cb) {
                cb->fAbsPitch = pitch;
                cb->wUseAbsPitch = 1;
            }
            return 0;
        }
        default: break;
    }
    if (needsControlBlock(attr->dwAttribute) && !cb) return kNeedsControlBlock;
    return cb ? setWithControlBlock(kd, cb, attr) : unknown(attr, kd);
}
