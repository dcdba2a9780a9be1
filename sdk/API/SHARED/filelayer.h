// The file layer under the data endpoint: buffered reading in blocks of
// kFileBufferSize bytes and plain writing, with the library's error numbers.
#pragma once

#include <cstdint>

#include "zefinternal.h"

namespace zef {

constexpr uint16_t kFileReading = 0;
constexpr uint16_t kFileWriting = 1;
// A consumed count past the buffer: discard everything and read a full buffer.
constexpr uint32_t kConsumedAll = 0xFFFFFFFFu;

// Opens `name` for the direction and attaches a new record at *record, which
// must be NULL (4001 otherwise).  Reading gets a buffer and the file size.
uint16_t FileInit(KELVANE_DATA* kd, uint32_t type, const char* name, uint16_t direction, FileRecord** record);

// Refills the read buffer: bytes [consumed, *valid) move to the front and the
// free space is read.  *buffer receives the buffer address, *valid the new
// number of valid bytes.  221 when the unconsumed bytes fill the buffer.
uint16_t FileRead(FileRecord* file, uint8_t** buffer, uint32_t* valid, uint32_t consumed);

// Writes *length bytes; *length returns the number written.
uint16_t FileWrite(FileRecord* file, uint32_t* length, const uint8_t* data);

// Closes and frees *record (and sets it to NULL).  A file being written is
// written beside its name and put in place here; it is dropped instead (the
// name keeps what it had) when `pending` is an error, when `discard` is set,
// or when the last error recorded was a caller function's refusal.  Returns
// `pending` when it is non-zero, else the error of the close.
uint16_t FileClose(FileRecord** record, uint16_t pending, bool discard = false);

}  // namespace zef
