// The library's inner functions that more than one module calls: control
// block life, validation, library globals, container readers and writers,
// and the endpoint dispatchers.  All return 0 or an error number and record
// failures through ZEF_ERROR.
#pragma once

#include <cstdint>

#include "zefinternal.h"

namespace zef {

// ---- control block and validation ----------------------------------------
uint16_t ValidateKelvaneData(KELVANE_DATA* kd);
uint16_t NewZefControlBlock(KELVANE_DATA* kd);  // allocate, guard, copy lpCallback, link both ways
uint16_t FreeZefControlBlock(KELVANE_DATA* kd); // release engine and effect state, free, unlink

// ---- library-wide records --------------------------------------------------
struct CodecCatalogEntry {  // 360 bytes
    uint32_t dwSetting;
    char szShortName[50];
    char szLongName[50];
    char szDescription[256];
};
static_assert(sizeof(CodecCatalogEntry) == 360);

struct PreviewRecord {
    uint16_t guisetteId;
    uint16_t size;
    const uint8_t* data;
};

struct APIGlobals {
    uint16_t wCodecs;
    const CodecCatalogEntry* lpCodecs;
    uint16_t wGuisettes;
    const void* lpGuisettes;
    uint16_t wPreviews;
    const PreviewRecord* lpPreviews;
};

struct ThisInstance {
    APIGlobals* lpGlobals;
    uint16_t wInUse;
    uint16_t wStartupSize;
};

uint16_t NewAPIGlobals();
uint16_t GetAPIGlobals(APIGlobals** out);
void FreeAPIGlobals();
uint16_t NewThisStruct();
uint16_t GetThisInstance(ThisInstance** out);
void FreeThisStruct();
uint16_t AccumulateCodecs(uint16_t* count);

// ---- containers -------------------------------------------------------------
// Readers get the bytes they may look at (start and length) and check every
// length against them.
uint16_t ParseHeader(KELVANE_DATA* kd, InputVars* in);
uint16_t ParseRIFFHeader(KELVANE_DATA* kd, const uint8_t* start, uint32_t length, StreamDesc* desc);
uint16_t ParseAIFFHeader(KELVANE_DATA* kd, const uint8_t* start, uint32_t length, StreamDesc* desc);
uint16_t ReadWaveMarkers(KELVANE_DATA* kd, StreamDesc* desc);
uint16_t CopyZefHeaderFromBuffer(KELVANE_DATA* kd);
uint16_t ReadCompressedZefHeader(KELVANE_DATA* kd);
uint16_t GetZefHeaderFromCodecID(KELVANE_DATA* kd, uint32_t identifier);
uint16_t GetCodecID(KELVANE_DATA* kd, uint32_t* identifier);
uint16_t ReadVoiceEffect(KELVANE_DATA* kd, const uint8_t* payload, uint32_t size);

// Writers append at the output record's write position and advance it.
uint16_t WriteRIFFHeader(KELVANE_DATA* kd, uint32_t totalSize, uint32_t dataBytes);
uint16_t WriteAiffHeader(KELVANE_DATA* kd, uint32_t totalSize);
uint16_t ZEF12InsertHeader(KELVANE_DATA* kd, uint8_t** cursor);
uint32_t ZEF12HeaderSize(uint32_t outputType);
uint16_t CopyZefHeaderToBuffer(KELVANE_DATA* kd);   // the compatibility block when asked for
uint16_t WriteCompressedZefHeader(KELVANE_DATA* kd); // packet header
uint16_t WritePlaybackHeader(KELVANE_DATA* kd);      // "ZEFp", output format 0x50000
uint16_t EmbedGuisetteChunk(uint8_t** cursor, unsigned number);

// The 1528-byte compatibility block (generated data).
extern const uint8_t kCompatBlock[kCompatBlockSize];

// ---- endpoints -----------------------------------------------------------------
uint16_t HandleInputData(KELVANE_DATA* kd, uint16_t message);
uint16_t HandleOutputData(KELVANE_DATA* kd, uint16_t message);
uint16_t HandleInputFunction(KELVANE_DATA* kd, uint16_t message);
uint16_t HandleOutputFunction(KELVANE_DATA* kd, uint16_t message);
uint16_t PostReadProcess(KELVANE_DATA* kd, InputVars* in, uint32_t newBytesOffset);

}  // namespace zef
