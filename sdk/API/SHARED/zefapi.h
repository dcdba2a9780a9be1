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
// `in` is the control block's input record; parsing starts at its read
// position and leaves it at the first frame or sample.
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
// "ZEF!" chunk and "ZEFd" head in front of a raw coded stream.
uint16_t WriteChunkedZefHeader(KELVANE_DATA* kd, uint32_t frames, uint32_t dataBytes);
uint16_t WritePlaybackHeader(KELVANE_DATA* kd);      // "ZEFp", output format 0x50000
uint16_t EmbedGuisetteChunk(uint8_t** cursor, unsigned number);

// The 1528-byte compatibility block (generated data).
extern const uint8_t kCompatBlock[kCompatBlockSize];

// Bits of one coded frame for a codec number, as used to count the frames
// in a number of bytes: 54 Orvo and its kin, 67 Peln, 1 for 4609; 0 unknown.
uint16_t CodedBitsPerFrame(uint16_t codec);
// Space for `bytes` at the output record's write position (not yet
// advanced); 118 with the capacity needed when the record is too small.
uint16_t ReserveOutput(KELVANE_DATA* kd, uint32_t bytes, uint8_t** at);

constexpr uint32_t kZef12HeaderSize = 16;     // "ZEF." chunk
constexpr uint32_t kGuisetteChunkSize = 10;   // "ZEfG" chunk
constexpr uint32_t kPacketHeaderSize = 24;    // 8-byte prefix + 16-byte "zef!" block
constexpr uint32_t kChunkedZefHeaderSize = 56; // "ZEF!" chunk (8 + 40) and the "ZEFd" head
constexpr uint32_t kPlaybackHeaderSize = 32;  // "ZEFp"
constexpr uint32_t kAiffHeaderSize = 86;

// Sub-chunk walking: handler(context, kd, identifier, size, contents) sees
// each chunk whose contents lie wholly inside the walk; identifiers are
// fourcc values.  Ends with 305 when no further chunk fits, 123 at stopId
// (0: none), or the handler's non-zero result.
using ChunkHandler = uint16_t (*)(void* context, KELVANE_DATA* kd, uint32_t id, uint32_t size,
                                  const uint8_t* contents);
uint16_t TraverseChunks(const uint8_t** pos, uint32_t length, uint32_t stopId, uint32_t* count,
                        void* context, KELVANE_DATA* kd, ChunkHandler handler);
uint16_t ParseFMTChunks(void* context, KELVANE_DATA* kd, uint32_t id, uint32_t size, const uint8_t* contents);
// contents: the "ZEF." chunk's contents (its head is the 8 bytes before).
uint16_t ZEF12ReadHeader(KELVANE_DATA* kd, const uint8_t* contents, uint32_t size);

// Where the chunk after one at `pos` (head included, `size` as stored)
// starts in `length` bytes: past its contents, and past a pad byte when the
// size is odd and a zero byte follows (chunk identifiers never start with
// one), so files that pad odd chunks and files that do not both read.
uint64_t NextChunkOffset(const uint8_t* base, uint64_t length, uint64_t pos, uint32_t size);

// RIFF "LIST"/"INFO" texts through kd->lpInfoChunks.
uint32_t RIFFToZefChunkID(uint32_t id);
uint16_t RIFFAccumulateInfoChunks(int16_t count, KELVANE_INFO_CHUNK* records, uint32_t id, uint32_t size,
                                  const uint8_t* contents);
uint16_t RIFFReadInfoBlock(KELVANE_DATA* kd, const uint8_t** pos, uint32_t size);
uint32_t RIFFInfoBlockSize(const KELVANE_DATA* kd);   // bytes RIFFWriteInfoBlock writes
uint16_t RIFFWriteInfoBlock(KELVANE_DATA* kd, uint8_t** cursor);

// Markers.  The "ZEFm" chunk in memory (malloc'ed, freed with free, like its
// pointer list) is laid out as in a file, numbers little-endian: "ZEFm",
// u32 size - 8, u32 count, u16 2, u16 0, then per marker at an even offset
// u32 id, u32 bit offset, u32 sample offset, u32 byte offset, NUL-ended text.
struct MarkerSource {
    uint32_t id;
    uint32_t position;
    const char* text;     // not NUL-ended; may be NULL when length is 0
    uint32_t textLength;
};
using MarkerSourceFn = void (*)(const void* context, uint32_t index, MarkerSource* out);
// Builds the chunk and its list and hands them to `in` (replacing any
// earlier ones).  chunkError and listError: the numbers for failed allocations.
uint16_t BuildMarkerChunk(KELVANE_DATA* kd, InputVars* in, uint32_t count, const void* context,
                          MarkerSourceFn source, uint16_t chunkError, uint16_t listError);
void FreeMarkers(InputVars* in);
void SortMarkerList(InputVars* in, bool coded);
// qsort-style: a and b point at pointers to label sub-chunks or marker records.
int CompareIDNumbers(const void* a, const void* b);
int CompareZEFMarkerPositions(const void* a, const void* b);
int ComparePCMMarkerPositions(const void* a, const void* b);

// 80-bit extended numbers as AIFF stores its sampling rate.
void doubletovx80(double value, uint8_t out[10]);
double vx80toDouble(const uint8_t in[10]);

// ---- endpoints -----------------------------------------------------------------
uint16_t HandleInputData(KELVANE_DATA* kd, uint16_t message);
uint16_t HandleOutputData(KELVANE_DATA* kd, uint16_t message);
uint16_t HandleInputFunction(KELVANE_DATA* kd, uint16_t message);
uint16_t HandleOutputFunction(KELVANE_DATA* kd, uint16_t message);
// Recording: PCM captured from the audio device's record side.
uint16_t HandleInputSound(KELVANE_DATA* kd, uint16_t message);
uint16_t PostReadProcess(KELVANE_DATA* kd, InputVars* in, uint32_t newBytesOffset);

}  // namespace zef
