/* Mirlane: the Zef speech codec library, public calling interface.
 *
 * Everything is driven through one caller-owned control structure,
 * KELVANE_DATA, passed by pointer to every entry point.  Zero the whole
 * structure, set wSizeOfKelvaneData to KELVANE_DATA_VERSION_MARK and fill the
 * fields that the call needs.  Every entry point returns 0 or an error number
 * (ZEFERR_...) and leaves a secondary value in dwSecondaryError;
 * mlGetStringFromError turns both into a three-line text.
 *
 * Numbers in this header are host order.  Pointer fields are native pointers;
 * wSizeOfKelvaneData keeps the historical value 148 as a version mark.
 */
#ifndef MIRLANE_H
#define MIRLANE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- exported interface ------------------------------------------------ */
/* Every call and object of this header carries MIRLANE_API; nothing else
 * leaves the shared library. */
#if defined(__GNUC__) || defined(__clang__)
#define MIRLANE_API __attribute__((visibility("default")))
#else
#define MIRLANE_API
#endif

/* ---- version marks and record sizes --------------------------------- */
#define KELVANE_DATA_VERSION_MARK 148 /* current form of KELVANE_DATA */
#define KELVANE_DATA_OLD_MARK 92      /* older form, information calls only */
#define ZEF_FILE_INFO_SIZE 44
#define ZEF_VERSION_SIZE 624          /* six entries */
#define ZEF_VERSION_SIZE_SHORT 416    /* four entries */
#define ZEF_VERSION_ENTRY_SIZE 104
#define ZEF_STARTUP_SIZE 48
#define ZEF_MARKER_REQUEST_SIZE 24
#define ZEF_FUNCTION_BLOCK_SIZE 20    /* value of ZEF_FUNCTION_BLOCK.wSize */
#define ZEF_INFO_TEXT_SIZE 256

/* ---- type words (dwInputType, dwOutputType) --------------------------- */
#define ZEFTYPE_QUALIFIER_MASK 0x00000001u
#define ZEFTYPE_QUALIFIER_PCM 0x00000000u
#define ZEFTYPE_QUALIFIER_ZEF 0x00000001u

#define ZEFTYPE_LOCATION_MASK 0x0000FF00u
#define ZEFTYPE_LOCATION_FILE 0x00000100u
#define ZEFTYPE_LOCATION_BUFFER 0x00000200u
#define ZEFTYPE_LOCATION_SOUND 0x00000400u
#define ZEFTYPE_LOCATION_FUNCTION 0x00000800u
#define ZEFTYPE_LOCATION_PACKET 0x00001100u
#define ZEFTYPE_LOCATION_PREVIEW 0x00001200u

#define ZEFTYPE_FORMAT_MASK 0x000F0000u
#define ZEFTYPE_FORMAT_WAVE 0x00010000u
#define ZEFTYPE_FORMAT_RAW 0x00020000u
#define ZEFTYPE_FORMAT_AIFF 0x00030000u
#define ZEFTYPE_FORMAT_PLAYBACK 0x00050000u /* output only: the "ZEFp" header */

#define ZEFTYPE_FILE_INFO 0x10000000u
#define ZEFTYPE_VERSION_INFO 0x20000000u

/* ---- codec selection (dwCompressionSettings) -------------------------- */
#define KELVANE_CODEC_DEFAULT 0x00000000u
#define KELVANE_CODEC_LUMO_8K 0x01000001u   /* Orvo, 2400 bit/s */
#define KELVANE_CODEC_ZEFB_8K 0x01000004u
#define KELVANE_CODEC_ZEFE_8K 0x01000008u
#define KELVANE_CODEC_ZEFE_8K_VARIANT 0x01000009u
#define KELVANE_CODEC_ZEFF_8K 0x0100000Cu
#define KELVANE_CODEC_PELN_HQ 0x01000010u   /* Peln, 2978 bit/s */
#define KELVANE_CODEC_MM_11K 0x02000002u
#define KELVANE_CODEC_MM_22K 0x04000002u

/* internal codec numbers, as stored in the headers */
#define ZEF_CODEC_ORVO 1284
#define ZEF_CODEC_ZEFB 5377
#define ZEF_CODEC_MM_11K 1027
#define ZEF_CODEC_MM_22K 1541
#define ZEF_CODEC_ZEFE 4609
#define ZEF_CODEC_ZEFF 5393
#define ZEF_CODEC_PELN 5409

#define KELVANE_SAMPLE_SIZE_8BIT 1
#define KELVANE_SAMPLE_SIZE_16BIT 2

/* ---- effect limits (inclusive) ---------------------------------------- */
#define MAX_WARPED_LENGTH_FACTOR 5.0
#define MIN_WARPED_LENGTH_FACTOR 0.2
#define MAX_ABSOLUTE_PITCH 400.0
#define MIN_ABSOLUTE_PITCH 70.0
#define MAX_RELATIVE_PITCH 24.0
#define MIN_RELATIVE_PITCH (-24.0)

/* ---- accepted sampling rates ------------------------------------------ */
#define ZEF_RATE_11127_FIXED 729236945u  /* 11127.27 Hz as 16.16 fixed point */
#define ZEF_RATE_22254_FIXED 1458473891u /* 22254.55 Hz as 16.16 fixed point */
#define ZEF_ACCEPTED_RATE_COUNT 8
MIRLANE_API extern const uint32_t zefAcceptedRates[ZEF_ACCEPTED_RATE_COUNT];

/* ---- status codes (dwStatus and the callback's second argument) ------- */
#define KELVANE_STATUS_COMPRESS_START 11
#define KELVANE_STATUS_COMPRESS_END 12
#define KELVANE_STATUS_DECOMPRESS_START 13
#define KELVANE_STATUS_DECOMPRESS_END 14
#define KELVANE_STATUS_PLAY_START 15
#define KELVANE_STATUS_PLAY_END 16
#define KELVANE_STATUS_FRAME 19
#define KELVANE_STATUS_RECORD_START 20
#define KELVANE_STATUS_RECORD_END 21
#define KELVANE_STATUS_PAUSED 24
#define KELVANE_STATUS_DEVICE_FAILED 507

/* ---- endpoint messages -------------------------------------------------- */
#define ZEFMSG_OPEN 10
#define ZEFMSG_READ 20
#define ZEFMSG_WRITE 30
#define ZEFMSG_CLOSE 40
/* messages to a caller's reader or writer function */
#define ZEFFUNC_OPEN 40
#define ZEFFUNC_READ 41
#define ZEFFUNC_WRITE 42
#define ZEFFUNC_CLOSE 43
#define ZEFFUNC_NO_DATA_YET 94 /* a reader's answer to 41: nothing available now */

/* ---- records ------------------------------------------------------------ */

/* Progress callback and caller function: (always 0, status or message, data).
 * data is the KELVANE_DATA for progress and a ZEF_FUNCTION_BLOCK for the
 * reader and writer functions.  A non-zero return aborts (or, for a read,
 * means end of input). */
typedef uint16_t (*KELVANE_CALLBACK)(uint16_t wReserved, uint16_t wStatus, void* lpData);

typedef struct tagKELVANE_DATA {
    uint16_t wSizeOfKelvaneData;
    uint16_t wReserved0;
    uintptr_t dwUserData; /* wide enough for a pointer */
    uint32_t dwInputType;
    void* lpInputLocation;
    uint32_t dwInputSize;
    uint32_t dwInputBytesUsed;
    uint32_t dwInputSamplingRate;
    uint16_t wInputBytesPerSample;
    uint16_t wReserved1;
    uint32_t dwOutputType;
    void* lpOutputLocation;
    uint32_t dwOutputSize;
    uint32_t dwOutputBytesUsed;
    uint32_t dwOutputSamplingRate;
    uint16_t wOutputBytesPerSample;
    uint16_t wUseAbsolutePitch;
    float fRelativePitch;
    float fAbsolutePitch;
    float fWarpedLengthFactor;
    void* lpGuisette;
    uint32_t dwReserved2;
    uint32_t dwSecondaryError;
    uint32_t dwFramesLeft;
    KELVANE_CALLBACK lpCallback;
    void* lpControlBlock;
    uint32_t dwCompressionSettings;
    uint32_t dwStatus;
    uint16_t wReserved3;
    uint16_t wReserved;
    uint8_t bReserved4[8];
    uint16_t wLevel;
    uint16_t wSynthesizer;
    uint8_t bReserved5[8];
    void* lpMarker;
    void* lpInfoChunks; /* KELVANE_INFO_CHUNK array */
    int16_t wInfoChunks;
    int16_t wCompatibilityHeader;
    uint16_t wGuisette;
    uint16_t wReserved6;
    uint32_t dwReserved7;
    uint16_t wBitsPerFrame;
    uint16_t wReserved8;
} KELVANE_DATA;

/* Marker request (lpMarker), six 32-bit words. */
typedef struct tagKELVANE_MARKER_REQUEST {
    uint32_t dwSelector; /* 1 decompression, 2 compression */
    uint32_t dwSize;     /* 24 */
    uint32_t dwBitPosition;
    uint32_t dwStartByte;
    uint32_t dwUnused;
    uint32_t dwEndByte;
} KELVANE_MARKER_REQUEST;

/* One RIFF INFO text (element of lpInfoChunks).  dwId: 0 free, 1..6 a known
 * identifier (IARL ICOP INAM ISFT IENG ICMT), else the identifier's four
 * characters as a number, the first in the most significant byte ("ICRD" is
 * 0x49435244, the value of the C constant 'ICRD').  dwLength 0xFFFFFFFF asks
 * for that identifier on reading; such a record gets the text before any
 * free record does. */
typedef struct tagKELVANE_INFO_CHUNK {
    uint32_t dwId;
    uint32_t dwLength;
    char szText[ZEF_INFO_TEXT_SIZE];
} KELVANE_INFO_CHUNK;

typedef struct tagZEF_FILE_INFO {
    uint16_t wFormatTag;
    uint16_t wChannels;
    uint32_t dwBitRate;
    uint32_t dwSamplingRate;
    uint16_t wBytesPerSample;
    uint16_t wReserved;
    uint32_t dwLength;
    float fHeaderValue1;
    float fHeaderValue2;
    float fHeaderValue3;
    uint8_t bReserved[12];
} ZEF_FILE_INFO;

typedef struct tagZEF_VERSION_ENTRY {
    char szVersion[64];
    char szBuild[32];
    uint32_t dwVersion;  /* major in the high half, minor in the low half */
    uint32_t dwRevision; /* revision in the high half, build in the low half */
} ZEF_VERSION_ENTRY;

typedef struct tagZEF_VERSION {
    ZEF_VERSION_ENTRY entries[6];
} ZEF_VERSION;

typedef struct tagKELVANE_ATTRIBUTE {
    uint32_t dwAttribute;
    float fValue;
    uint32_t dwValue;
} KELVANE_ATTRIBUTE;

/* Start-up record filled by zefStartup. */
typedef struct tagZEF_STARTUP {
    uint16_t wSize; /* 48 */
    uint16_t wReserved;
    uint32_t dwVersion;
    uint32_t dwRevision;
    uint16_t wCodecs;
    uint16_t wGuisettes;
    char szName[32];
} ZEF_STARTUP;

/* Parameter block handed to a caller's reader or writer function. */
typedef struct tagZEF_FUNCTION_BLOCK {
    uint16_t wSize; /* ZEF_FUNCTION_BLOCK_SIZE */
    uint16_t wReserved;
    void* lpBuffer;
    uint32_t dwLength;
    uint32_t dwUserValue;
    KELVANE_DATA* lpKelvaneData;
} ZEF_FUNCTION_BLOCK;

/* ---- attribute identifiers -------------------------------------------- */
#define KELVANE_ATTR_WARP 1
#define KELVANE_ATTR_RELATIVE_PITCH 2
#define KELVANE_ATTR_ABSOLUTE_PITCH 3
#define KELVANE_ATTR_RESERVED_5 5
#define KELVANE_ATTR_HEADER_VALUE 7
#define KELVANE_ATTR_BIT_RATE 8
#define KELVANE_ATTR_FIXED_BIT_RATE 9
#define KELVANE_ATTR_VAD_THRESHOLD 0x80002
#define KELVANE_ATTR_FRAMELESS 0x80003
#define KELVANE_ATTR_VAD_SENSITIVITY 0x80004
#define KELVANE_ATTR_VAD_DECISION 0x80005
#define KELVANE_ATTR_AGC_VALUE 0x80006
#define KELVANE_ATTR_AGC_MODE 0x80007
#define KELVANE_ATTR_BIT_POSITION 0x80008

/* ---- error numbers ------------------------------------------------------ */
enum {
    ZEFERR_OK = 0,
    ZEFERR_BAD_INTERNAL_MODE = 1,
    KELVANE_PLAYBACKERROR = 10,
    ZEFERR_PCM_EFFECT_MEMORY = 14, /* PCM effect state could not be allocated */
    ZEFERR_DELAY_LINE_MEMORY = 15, /* PCM effect delay line could not be allocated */
    ZEFERR_RECORDING_DEVICE = 22,
    /* internal signals of the decode loop, never a call's result */
    ZEF_SIGNAL_INPUT_EXHAUSTED = 91,
    ZEF_SIGNAL_OUTPUT_FULL = 92,
    ZEF_SIGNAL_FUNCTION_REFUSED = 93,
    ZEF_SIGNAL_NO_DATA_YET = 94,
    obsERR_BITS_PER_SAMPLE = 101,
    obsERR_SAMPLE_RATE = 102,
    ZEFERR_FORMAT_PCM = 103,
    ZEFERR_NOT_MONO = 104,
    ZEFERR_KELVANE_DATA_POINTER_NULL = 105,
    ZEFERR_KELVANE_DATA_SIZE = 106,
    ZEFERR_ZEF_FILE_INFO_POINTER_NULL = 107,
    ZEFERR_ZEF_FILE_INFO_SIZE = 108,
    ZEFERR_ZEF_VERSION_POINTER_NULL = 109,
    ZEFERR_ZEF_VERSION_SIZE = 110,
    ZEFERR_ZEF_VOICE_POINTER_NULL = 111,
    ZEFERR_ZEF_VOICE_NAME_NULL = 112,
    ZEFERR_FLUXEON_POINTER_BAD = 113,
    ZEFERR_INVALID_INPUT_TYPE = 114,
    ZEFERR_INVALID_OUTPUT_TYPE = 115,
    ZEFERR_INPUT_HANDLER = 116,
    ZEFERR_OUTPUT_HANDLER = 117,
    ZEFERR_PRIME_TIME = 118,
    ZEFERR_WARP_2_BIG = 119,
    ZEFERR_WARP_2_SMALL = 120,
    ZEFERR_ABS_PITCH_2_BIG = 121,
    ZEFERR_ABS_PITCH_2_SMALL = 122, /* its message keeps the name ZEFERR_ABS_PITCH_2_BIG */
    ZEFERR_REL_PITCH_2_BIG = 123,
    ZEFERR_REL_PITCH_2_SMALL = 124,
    ZEFERR_CODEC_UNKNOWN = 125,
    ZEFERR_INPUT_BYTES_PER_SAMPLE = 126,
    ZEFERR_OUTPUT_BYTES_PER_SAMPLE = 127,
    ZEFERR_FORMAT_ZEF = 128,
    ZEFERR_UNKNOWN_ATTRIBUTE = 129,
    ZEFERR_VWD_OR_VCB_IS_NULL = 130,
    ZEFERR_NO_MARKERS_IN_INPUT_FILE = 131,
    ZEFERR_BAD_SRC_4_MARKER_INPUT = 132,
    ZEFERR_UNSUPPORTED_MARKER_CHUNK = 133,
    ZEFERR_INVALID_MARKER_SELECTOR = 134,
    ZEFERR_NO_INPUT_SAMPLE_SIZE = 135,
    ZEFERR_NO_INPUT_SAMPLING_RATE = 136,
    ZEFERR_BAD_INPUT_SAMPLING_RATE = 137,
    ZEFERR_BAD_OUTPUT_SAMPLING_RATE = 138,
    ZEFERR_VALIDATE_NO_GESTALT = 139,
    ZEFERR_VALIDATE_CPU_OLD_AS_DIRT = 140,
    ZEFERR_VALIDATE_NO_FPU = 141,
    ZEFERR_VALIDATE_FILE_MGR_TOO_OLD = 142,
    ZEFERR_VALIDATE_NO_NOTIFICATION_MGR = 143,
    ZEFERR_VALIDATE_YIKES_NO_SOUND_MGR = 144,
    ZEFERR_VALIDATE_U_LACK_16BIT_SND = 145,
    ZEFERR_VALIDATE_SND_MGR_NOT_CURRENT = 146,
    ZEFERR_DONT_GIVE_INPUT_SAMPLE_RATE = 147,
    ZEFERR_DONT_GIVE_INPUT_SAMPLE_SIZE = 148,
    ZEFERR_NO_SAMPLE_RATE_FOR_ZEF = 149,
    ZEFERR_NO_SAMPLE_SIZE_FOR_ZEF = 150,
    ZEFERR_EFFECTS_ARE_NOT_SUPPORTED = 151,
    ZEFERR_FX_R_4_DECOMPRESSION_ONLY = 152,
    ZEFERR_ONLY_LUMO_8K_CODEC_AVAILABLE = 153,
    ZEFERR_INVALID_MARKER_SIZEOF = 154,
    ZEFERR_INVALID_VCB = 155,
    ZEFERR_INVALID_OUTPUT_VARS = 156,
    ZEFERR_INVALID_INPUT_VARS = 157,
    ZEFERR_ABS_GAIN_2_BIG = 158,
    ZEFERR_ABS_GAIN_2_SMALL = 159,
    ZEFERR_REL_GAIN_2_BIG = 160,
    ZEFERR_REL_GAIN_2_SMALL = 161,
    ZEFERR_KELVANE_ALREADY_INITIALIZED = 162,
    ZEFERR_MUST_PLAY_TO_LOCATION_SOUND = 163,
    ZEFERR_MUST_CALL_DCMP_MIRLANE_PLAY = 164,
    ZEFERR_FPU_DETECT = 165,
    ZEFERR_IDENTIFYING_THE_CPU = 166,
    obsERR_IDENTIFYING_THE_OS = 167,
    ZEFERR_CODEC_NOT_AVAILABLE = 168,
    obsERR_DONT_GIVE_CODEC = 169,
    ZEFERR_DONT_GIVE_CMP_SETTINGS = 170,
    ZEFERR_LINK_WITH_NATIVE_CODE = 171,
    obsERR_DATA_CHUNK_SEEK = 201,
    obsERR_FMT_CHUNK_READ = 202,
    ZEFERR_FMT_CHUNK_SIZE = 203,
    ZEFERR_RIFF_CHUNK_READ = 204,
    ZEFERR_ZEF_HEADER_FLAG = 205,
    ZEFERR_ZEF_HEADER_SIZE = 206,
    obsERR_ZEF_INIT_READ = 207,
    obsERR_ZEF_INIT_WRITE = 208,
    obsERR_ZEF_OPEN = 209,
    obsERR_ZEF_READ = 210,
    obsERR_ZEF_WRITE = 211,
    obsERR_WAVE_CKID = 212,
    obsERR_WAVE_INIT_READ = 213,
    obsERR_WAVE_INIT_WRITE = 214,
    obsERR_WAVE_OPEN = 215,
    obsERR_WAVE_READ = 216,
    obsERR_WAVE_WRITE = 217,
    ZEFERR_GUISE_OPEN = 218,
    ZEFERR_GUISE_READ = 219,
    ZEFERR_GUISE_WRITE = 220,
    ZEFERR_ENDOFFILE_REACHED = 221,
    ZEFERR_READING_FROM_FILE = 222,
    ZEFERR_WRITING_TO_FILE = 223,
    ZEFERR_BAD_PATH_TO_FILE = 224,
    ZEFERR_SET_FPOS = 225,
    ZEFERR_OPENING_INPUT_FILE = 226,
    ZEFERR_OPENING_OUTPUT_FILE = 227,
    ZEFERR_CLOSING_INPUT_FILE = 228,
    ZEFERR_CLOSING_OUTPUT_FILE = 229,
    ZEFERR_READING_MARKER = 230,
    ZEFERR_SEEKING_TO_MARKER_CHUNK = 231,
    ZEFERR_MARKER_SEEK_RESET = 232,
    ZEFERR_FAILED_SEEK_TO_MARKER = 233,
    ZEFERR_REOPENING_MARKER_LOG = 234,
    ZEFERR_REOPENING_MARKER_LOG_2 = 235, /* its message keeps the name ZEFERR_REOPENING_MARKER_LOG */
    ZEFERR_FAILED_TO_GET_EOF = 236,
    ZEFERR_SEEKING_PAST_HEADER = 237,
    ZEFERR_ENDOFBUFFER_REACHED = 238,
    ZEFERR_UNKNOWN_HEADER_FORMAT = 302,
    ZEFERR_WE_DONT_SUPPORT_RIFX = 303,
    ZEFERR_WAVE_DOESNT_START_RIFF = 304,
    ZEFERR_CANT_SURF_THIS_WAVE = 305,
    ZEFERR_AIFF_COULDNT_FIND_ALL_CHUNKS = 306,
    ZEFERR_HDR_MISSING_BITS_OF_DATA = 307,
    ZEFERR_NOT_A_COMPRESSED_HEADER = 308,
    ZEFERR_NO_CODECID_FOR_HEADER = 309,
    ZEFERR_UNKNOWN_CODECID_IN_HEADER = 310,
    ZEFERR_PLAYBACK_MEMORY = 401,
    ZEFERR_ZEFSTRUCT_MEMORY = 402,
    obsERR_ZEF_DATA_MEMORY = 403,
    obsERR_WAVE_DATA_MEMORY = 404,
    ZEFERR_WAVEHDR_MEMORY = 405,
    ZEFERR_VER_INFO_MEMORY = 406,
    ZEFERR_FLUXEON_MEMORY = 407,
    ZEFERR_INPUT_VARS_MEMORY = 408,
    ZEFERR_OUTPUT_VARS_MEMORY = 409,
    ZEFERR_RECORD_MEMORY = 410,
    ZEFERR_MARKERS_MEMORY = 411,
    ZEFERR_FILELINK_MEMORY = 412,
    ZEFERR_READ_COMPLETION_MEMORY = 413,
    ZEFERR_INPUT_DISKIO_MEMORY = 414,
    ZEFERR_OUTPUT_DISKIO_MEMORY = 415,
    ZEFERR_FLUSH_BUFFER_MEMORY = 416,
    ZEFERR_FUNCIN_BUFFER_MEMORY = 417,
    ZEFERR_FUNCOUT_BUFFER_MEMORY = 418,
    ZEFERR_DEFERRED_TASK_PROC_MEMORY = 419,
    ZEFERR_DEFERRED_TASK_MEMORY = 420,
    ZEFERR_SOUND_CALLBACK_PROC_MEMORY = 421,
    ZEFERR_NOTIFICATION_REC_MEMORY = 422,
    ZEFERR_PLAYBACK_VARS_MEMORY = 423,
    ZEFERR_PLAYBACK_BUFFER_MEMORY = 424,
    ZEFERR_ORD_MARKERS_MEMORY = 425,
    ZEFERR_MARKERS_TEMP_CHUNK_MEMORY = 426,
    ZEFERR_WAVE_MARKER_CHUNK_MEMORY = 427,
    ZEFERR_GENERIC_MARKERS_MEMORY = 428,
    ZEFERR_TEMP_INPUT_BUFFER_MEMORY = 429,
    ZEFERR_BREW_BLACK_ART = 501,
    ZEFERR_COMPRESSION = 502,
    ZEFERR_CREATE_WINDOW = 503,
    ZEFERR_DECOMPRESSION = 504,
    ZEFERR_WAVEOUT_OPEN = 505,
    ZEFERR_PREPARE_HDR = 506,
    ZEFERR_WAVEOUT_WRITE = 507,
    ZEFERR_WAVEIN_ADD_BUFFER = 508,
    ZEFERR_WAVEIN_OPEN = 509,
    ZEFERR_WAVEIN_START = 510,
    ZEFERR_NOT_ENOUGH_DATA_TO_COMPRESS = 512,
    ZEFERR_COMPRESS_BUFFER = 513,
    ZEFERR_PROCESSING_ABORTED = 514,
    ZEFERR_PAUSING = 515,
    ZEFERR_RESUMING = 516,
    ZEFERR_FLUSHCMD = 517,
    ZEFERR_QUIETCMD = 518,
    ZEFERR_BUFFERCMD = 519,
    ZEFERR_CALLBACKCMD = 520,
    ZEFERR_DTINSTALL_FAILED = 521,
    ZEFERR_GUISE_FILE_NOT_FOUND = 601,
    ZEFERR_GUISE_WRONGNAME = 602,
    ZEFERR_GUISE_DELETE = 603,
    ZEFERR_GUISE_FILE_FORMAT = 604,
    ZEFERR_FLUXEON_HANDLE_INVALID = 605,
    ZEFERR_GUII_UNKNOWN_GUISETTE = 606,
    ZEFERR_GUII_UNKNOWN_GU_CHUNK_SIZE = 607,
    /* raised without a message of their own */
    ZEFERR_STARTUP_RECORD_NULL = 800,
    ZEFERR_STARTUP_RECORD_SIZE = 801,
    ZEFERR_GLOBALS_MEMORY = 802,
    ZEFERR_GLOBALS_MISSING = 803,
    ZEFERR_INSTANCE_MEMORY = 804,
    ZEFERR_INSTANCE_MISSING = 805,
    ZEFERR_GU_DESCRIPTION_BUFFER_NULL = 807,
    ZEFERR_GU_DESCRIPTION_COUNT_NULL = 808,
    ZEFERR_LIBRARY_NOT_STARTED = 809,
    ZEFERR_STARTUP_SIZE_REMEMBERED = 810,
    ZEFERR_GU_CHUNK_NULL = 811,
    ZEFERR_NO_EFFECT_KIND = 814,
    ZEFERR_PREVIEW_NOT_FOUND = 817, /* also: Guisette chunk too small or not "ZEfG" */
    ZEFERR_GU_CHUNK_LENGTH = 818,
    ZEFERR_RESERVED_NOT_ZERO = 1001,
    ZEFERR_FILE_LAYER_LOCATION = 1003,
    /* file layer misuse */
    ZEFERR_FILE_RECORD_IN_USE = 4001,
    ZEFERR_FILE_READ_NOT_OPEN = 4321,
    ZEFERR_FILE_WRITE_NOT_OPEN = 2345,
    ZEFERR_FILE_CLOSE_NOT_OPEN = 12345,
    /* Guisette transformation settings */
    ZEFERR_GU_AMOUNT_RANGE = 19000, /* amount outside 0 to 255 */
    ZEFERR_GU_STATE_NULL = 19001,
    ZEFERR_GU_TYPE_RANGE = 19002 /* transformation type outside 0 to 9 */
};

/* ---- error texts ---------------------------------------------------------- */
/* Longest message is under 300 bytes; give a buffer of ZEF_MESSAGE_SIZE. */
#define ZEF_MESSAGE_SIZE 512
MIRLANE_API uint16_t mlGetStringFromError(uint16_t wError, uint32_t dwSecondary, char* lpText);
/* The same into a sized buffer (never writes more than size bytes). */
MIRLANE_API uint16_t mlGetStringFromErrorN(uint16_t wError, uint32_t dwSecondary, char* lpText, size_t size);

/* ---- library start-up and information calls ---------------------------- */

/* Start the library: lpStartup->wSize must be ZEF_STARTUP_SIZE; fills the
 * version, revision, name and the numbers of built-in codecs and Guisettes. */
MIRLANE_API uint16_t zefStartup(ZEF_STARTUP* lpStartup);
/* Release the library-wide records; zefStartup may be called again. */
MIRLANE_API uint16_t zefShutdown(void);
/* Fill the ZEF_VERSION at lpOutputLocation (dwOutputType ZEFTYPE_VERSION_INFO,
 * dwOutputSize ZEF_VERSION_SIZE or ZEF_VERSION_SIZE_SHORT). */
MIRLANE_API uint16_t utilGetVersionInfo(KELVANE_DATA* lpKelvaneData);
/* Read or change one setting (KELVANE_ATTR_...).  Both return 65535 for a
 * NULL lpKelvaneData and 65534 for a NULL lpAttribute; the session-only
 * attributes return 65535 when no session is open.  Pitch and warp values
 * are clamped to their limits. */
MIRLANE_API uint16_t utilMirlaneGetAttribute(KELVANE_DATA* lpKelvaneData, KELVANE_ATTRIBUTE* lpAttribute);
MIRLANE_API uint16_t utilMirlaneSetAttribute(KELVANE_DATA* lpKelvaneData, const KELVANE_ATTRIBUTE* lpAttribute);

/* An endpoint handler: (control structure, message ZEFMSG_...) -> 0 or error. */
typedef uint16_t (*ZEF_ENDPOINT_PROC)(KELVANE_DATA* lpKelvaneData, uint16_t wMessage);

/* Describe the input (dwInputType, lpInputLocation, dwInputSize) in the
 * ZEF_FILE_INFO at lpOutputLocation (dwOutputType ZEFTYPE_FILE_INFO,
 * dwOutputSize 44) without decoding it. */
MIRLANE_API uint16_t utilGetFileInfo(KELVANE_DATA* lpKelvaneData);
/* The set-up and tear-down behind utilGetFileInfo: between them the input is
 * open and its header parsed (a caller may read markers and the stream
 * description through the control block). */
MIRLANE_API uint16_t utilMirlaneInit(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t utilMirlaneCleanup(KELVANE_DATA* lpKelvaneData);
/* The input handler of the information calls for a type word, or NULL. */
MIRLANE_API ZEF_ENDPOINT_PROC utilGetInputProc(uint32_t dwType);

/* ---- decompression --------------------------------------------------------- */
/* mode: 1 streaming (the dcmpZef triple), 0 one-shot. */
MIRLANE_API uint16_t dcmpMirlaneInit(KELVANE_DATA* lpKelvaneData, uint16_t wMode);
MIRLANE_API uint16_t dcmpMirlaneCleanup(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t MirlaneDecompress(KELVANE_DATA* lpKelvaneData);
/* One-shot: initialise, decode to the end of the input, clean up. */
MIRLANE_API uint16_t dcmpMirlaneDecompress(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t dcmpZefFileToFile(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t dcmpZefBufferToFile(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t dcmpZefFileToBuffer(KELVANE_DATA* lpKelvaneData);
/* Streaming: init once with the first input buffer, convert one input buffer
 * into one output buffer per call (dwInputBytesUsed and dwOutputBytesUsed
 * report what was consumed and produced), free at the end. */
MIRLANE_API uint16_t dcmpZefInit(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t dcmpZefConvert(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t dcmpZefFree(KELVANE_DATA* lpKelvaneData);
MIRLANE_API ZEF_ENDPOINT_PROC dcmpGetInputProc(uint32_t dwType);
MIRLANE_API ZEF_ENDPOINT_PROC dcmpGetOutputProc(uint32_t dwType);

/* ---- compression ------------------------------------------------------------ */
/* PCM (WAVE, AIFF, raw with wInputBytesPerSample and dwInputSamplingRate;
 * file, buffer or caller function) to coded speech at 8000 Hz, mono.
 * dwCompressionSettings 0 or KELVANE_CODEC_LUMO_8K (Orvo) or KELVANE_CODEC_PELN_HQ
 * (Peln); any other gives 168.
 * Status 11 at the start, 19 after each frame, 12 at the end. */
MIRLANE_API uint16_t cmpMirlaneInit(KELVANE_DATA* lpKelvaneData, uint16_t wMode); /* 0 one-shot, 1 streaming */
MIRLANE_API uint16_t cmpMirlaneCleanup(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t cmpMirlaneCompress(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t cmpFileToZefFile(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t cmpBufferToZefFile(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t cmpFileToZefBuffer(KELVANE_DATA* lpKelvaneData);
/* Streaming: init with the first input buffer (its header is read), convert
 * each further buffer (dwInputBytesUsed and dwOutputBytesUsed as for
 * dcmpZefConvert; input that would overflow the output stays unread), and
 * free, which encodes the held samples into the output given. */
MIRLANE_API uint16_t cmpZefInit(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t cmpZefConvert(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t cmpZefFree(KELVANE_DATA* lpKelvaneData);
MIRLANE_API ZEF_ENDPOINT_PROC cmpGetInputProc(uint32_t dwType);
MIRLANE_API ZEF_ENDPOINT_PROC cmpGetOutputProc(uint32_t dwType);
/* Recording: compression from the audio device's record side.  dwInputType
 * ZEFTYPE_LOCATION_SOUND (8000 Hz, 16-bit mono) or ZEFTYPE_FORMAT_RAW |
 * ZEFTYPE_LOCATION_SOUND with dwInputSamplingRate and wInputBytesPerSample;
 * any compression output.  Status 20 at the start, 19 after each frame, 21 at
 * the end.  Recording ends normally (0, output complete) when the callback
 * returns non-zero, when the device's source ends, or when dwInputSize bytes
 * of PCM (if non-zero) have been taken.  A device that cannot be opened
 * (busy included) gives ZEFERR_OPENING_INPUT_FILE with errno as secondary;
 * one that fails while recording gives ZEFERR_READING_FROM_FILE and status
 * 507, and the output is cleaned up as after a failed compression.  While
 * the device is paused the callback hears status 24 and may stop. */
MIRLANE_API uint16_t cmpMirlaneRecord(KELVANE_DATA* lpKelvaneData);
/* The recording loop on a session opened by cmpMirlaneInit: 221 when the
 * source or dwInputSize ended it, 0 when the callback stopped it (the session
 * stays open; call again to record on, or cmpZefFree / cmpMirlaneCleanup). */
MIRLANE_API uint16_t MirlaneRecord(KELVANE_DATA* lpKelvaneData);
/* Record gain 0..255 (a linear factor gain/255; 255 takes the sound as it
 * comes); values outside are clamped.  The set call needs a session that
 * records (else ZEFERR_INPUT_HANDLER); the get call reads the control side of
 * the recording device when none records (lpKelvaneData may be NULL). */
MIRLANE_API uint16_t zefGetInputGain(KELVANE_DATA* lpKelvaneData, uint16_t* lpGain);
MIRLANE_API uint16_t zefSetInputGain(KELVANE_DATA* lpKelvaneData, int32_t lGain);

/* ---- direct playback ------------------------------------------------------- */
/* Plays the input (coded or PCM) on the audio device: dwOutputType
 * ZEFTYPE_LOCATION_SOUND (0x400, or 0x10400).  Without a session it opens
 * one, plays to the end of the input and closes it (returning 0 at the end);
 * the callback is called once per buffer round with dwStatus and may set
 * dwStatus to KELVANE_STATUS_PAUSED (the loop waits) and back to
 * KELVANE_STATUS_FRAME, or return non-zero to stop at once: the call then
 * returns 0 with the session still open (MirlanePlay goes on,
 * dcmpMirlaneCleanup discards what is queued).  On a session already open a
 * non-zero wPendingResult is returned without playing.  A device that fails
 * ends playback with status 507 and error KELVANE_PLAYBACKERROR (secondary
 * ZEFERR_WRITING_TO_FILE). */
MIRLANE_API uint16_t dcmpMirlanePlay(KELVANE_DATA* lpKelvaneData, uint32_t dwUnused, uint16_t wPendingResult);
MIRLANE_API uint16_t dcmpPlayZefFile(KELVANE_DATA* lpKelvaneData, uint32_t dwUnused, uint16_t wPendingResult);
MIRLANE_API uint16_t dcmpPlayZefBuffer(KELVANE_DATA* lpKelvaneData, uint32_t dwUnused, uint16_t wPendingResult);
/* The playback loop on an open session; 221 at the end of the input. */
MIRLANE_API uint16_t MirlanePlay(KELVANE_DATA* lpKelvaneData);
/* Pause and resume the session's device (status 24 and 19).  Pausing a
 * paused device returns 1 and changes nothing; without a session both
 * succeed and do nothing. */
MIRLANE_API uint16_t dcmpMirlanePause(KELVANE_DATA* lpKelvaneData);
MIRLANE_API uint16_t dcmpMirlaneResume(KELVANE_DATA* lpKelvaneData);
/* Play gain 0..255 and balance 0 (left) .. 32 (centre) .. 64 (right) of the
 * playing device; values outside are clamped.  The set calls need a session
 * that plays (else ZEFERR_OUTPUT_HANDLER); the get calls read the device's
 * control side when none plays (lpKelvaneData may be NULL). */
MIRLANE_API uint16_t zefGetOutputGain(KELVANE_DATA* lpKelvaneData, uint16_t* lpGain);
MIRLANE_API uint16_t zefSetOutputGain(KELVANE_DATA* lpKelvaneData, int32_t lGain);
MIRLANE_API uint16_t zefGetOutputBalance(KELVANE_DATA* lpKelvaneData, uint16_t* lpBalance);
MIRLANE_API uint16_t zefSetOutputBalance(KELVANE_DATA* lpKelvaneData, int32_t lBalance);

/* ---- Guisettes ------------------------------------------------------------- */
/* Built-in voice presets.  zefStartup must have run before any of these.
 * A session's Guisette selects the PCM effect applied while it decodes. */
#define ZEF_GUISETTE_TEXT_SIZE 44
#define ZEF_GUISETTE_DESCRIPTION_TEXT_SIZE 256
#define ZEF_GUISETTE_DESCRIPTION_SIZE 350
#define ZEF_GUISETTE_CHUNK_SIZE 10

/* One record of zefGetGuisetteDescriptions, 350 bytes, numbers host order. */
typedef struct tagZEF_GUISETTE_DESCRIPTION {
    uint16_t guisetteId;
    char category[ZEF_GUISETTE_TEXT_SIZE];
    char presetName[ZEF_GUISETTE_TEXT_SIZE];
    char description[ZEF_GUISETTE_DESCRIPTION_TEXT_SIZE];
    uint16_t hasEffect; /* 1 when the preset has a PCM effect */
    uint16_t chunkSize; /* ZEF_GUISETTE_CHUNK_SIZE */
} ZEF_GUISETTE_DESCRIPTION;

/* The Guisette chunk as a WAVE "fmt " extension carries it: "ZEfG", the
 * payload length 2 and the Guisette number, both little-endian. */
typedef struct tagZEF_GUISETTE_CHUNK {
    char ckId[4];
    uint8_t ckSize[4];
    uint8_t guisetteId[2];
} ZEF_GUISETTE_CHUNK;

/* Writes min(*lpCount, number of Guisettes) description records into
 * lpBuffer, in catalogue order, and sets *lpCount to that number. */
MIRLANE_API uint16_t zefGetGuisetteDescriptions(char* lpBuffer, uint16_t* lpCount);
/* Plays the built-in preview of a Guisette on the audio device and returns
 * when it has been played; an unknown number plays nothing and returns 0.
 * Further arguments are accepted and not used. */
MIRLANE_API uint16_t zefPlayGuisettePreview(unsigned wGuisette, ...);
/* Makes a built-in Guisette the session's own (606 for an unknown number).
 * In a decompression session a Guisette without a PCM effect leaves the
 * session without one (wGuisette of the session reads 0). */
MIRLANE_API uint16_t zefSetGuisette(KELVANE_DATA* lpKelvaneData, unsigned wGuisette);
/* The 10-byte chunk for a Guisette; *lpSize gives the room (at least 10,
 * else 817) and receives 10. */
MIRLANE_API uint16_t zefGetGuisetteChunk(unsigned wGuisette, ZEF_GUISETTE_CHUNK* lpChunk, uint32_t* lpSize);
/* zefSetGuisette for the number in a chunk: 817 when it is not "ZEfG", 818
 * when its length is not 2. */
MIRLANE_API uint16_t zefSetGuisetteUsingChunk(KELVANE_DATA* lpKelvaneData, const ZEF_GUISETTE_CHUNK* lpChunk);

#ifdef __cplusplus
}
#endif

#endif /* MIRLANE_H */
