// Message texts for the library's error numbers.  One row per number, each a
// printf format of three lines: the symbolic name with the number, the
// explanation (at most one conversion, which prints the secondary value or a
// fixed limit), and the advice.  The rows are checked at compile time against
// the kind of argument they receive, so a text can never read an argument it
// is not given.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "byteorder.h"
#include "mirlane.h"

namespace {

// What a row's conversion prints.
enum class Arg : uint8_t {
    None,     // no conversion
    Decimal,  // "%ld": the secondary value
    Hex,      // "0x%08lX": the secondary value
    Hex16,    // "0x%04X": the secondary value as a 16-bit size
    FourCC,   // "0x%08lX [%.4s]": the value, then its four characters
    Limit,    // "%f": the row's fixed limit, not the secondary value
};

struct Row {
    uint16_t number;
    Arg arg;
    float limit;  // Arg::Limit only; held in single precision as the checks use it
    const char* format;
};

#define OBSOLETE_1_1_0                                                 \
    "This error number became obsolete with Mirlane version 1.1.0.\n" \
    "Verify that a current version of the Mirlane DLLs are being used.\n"
#define OBSOLETE_1_1_1                                                 \
    "This error number became obsolete with Mirlane version 1.1.1.\n" \
    "Verify that a current version of the Mirlane DLLs are being used.\n"
#define MORE_MEMORY "Free some memory up and try again.\n"
#define SET_UNUSED_TO_ZERO "Set all unused lpKelvaneData fields to zero.\n"

constexpr Row kRows[] = {
    {10, Arg::Decimal, 0, "KELVANE_PLAYBACKERROR (10)\n"
        "A playback error occurred.  The actual KelVane error number is %ld.\n"
        "Call Kelvane technical support with this information for further diagnosis.\n"},

    // ---- arguments and structures ----
    {101, Arg::None, 0, "obsERR_BITS_PER_SAMPLE (101)\n" OBSOLETE_1_1_0},
    {102, Arg::None, 0, "obsERR_SAMPLE_RATE (102)\n" OBSOLETE_1_1_0},
    {103, Arg::None, 0, "ZEFERR_FORMAT_PCM (103)\n"
        "The input is not linear PCM in a form that Mirlane can compress.\n"
        "Convert the input to 8-bit or 16-bit mono linear PCM and try again.\n"},
    {104, Arg::None, 0, "ZEFERR_NOT_MONO (104)\n"
        "The input has more than one channel.  Mirlane only processes mono sound.\n"
        "Convert the input to a single channel and try again.\n"},
    {105, Arg::None, 0, "ZEFERR_KELVANE_DATA_POINTER_NULL (105)\n"
        "The lpKelvaneData pointer is NULL.\n"
        "Pass in a pointer to a KELVANE_DATA structure and try again.\n"},
    {106, Arg::Decimal, 0, "ZEFERR_KELVANE_DATA_SIZE (106)\n"
        "The lpKelvaneData->wSizeOfKelvaneData field is filled with an improper size - "
        "sizeof(KELVANE_DATA) should be %ld bytes.\n"
        "Verify that a beta version of the Mirlane DLLs aren't being used and recompile your "
        "application with the new Mirlane.H file.\n"},
    {107, Arg::None, 0, "ZEFERR_ZEF_FILE_INFO_POINTER_NULL (107)\n"
        "The lpKelvaneData->lpOutputLocation field is NULL - it should point to a ZEF_FILE_INFO structure.\n"
        "Pass in a proper ZEF_FILE_INFO pointer and try again.\n"},
    {108, Arg::Decimal, 0, "ZEFERR_ZEF_FILE_INFO_SIZE (108)\n"
        "The lpKelvaneData->dwOutputSize field is filled with an improper size - "
        "sizeof(ZEF_FILE_INFO) should be %ld bytes.\n"
        "Set dwOutputSize to the size of the ZEF_FILE_INFO structure and try again.\n"},
    {109, Arg::None, 0, "ZEFERR_ZEF_VERSION_POINTER_NULL (109)\n"
        "The lpKelvaneData->lpOutputLocation field is NULL - it should point to a ZEF_VERSION structure.\n"
        "Pass in a proper ZEF_VERSION pointer and try again.\n"},
    {110, Arg::Decimal, 0, "ZEFERR_ZEF_VERSION_SIZE (110)\n"
        "The lpKelvaneData->dwOutputSize field is filled with an improper size - "
        "sizeof(ZEF_VERSION) should be %ld bytes.\n"
        "Set dwOutputSize to the size of the ZEF_VERSION structure and try again.\n"},
    {111, Arg::None, 0, "ZEFERR_ZEF_VOICE_POINTER_NULL (111)\n"
        "The voice pointer passed to Mirlane is NULL.\n"
        "Pass in a proper voice pointer and try again.\n"},
    {112, Arg::None, 0, "ZEFERR_ZEF_VOICE_NAME_NULL (112)\n"
        "The voice name passed to Mirlane is NULL.\n"
        "Pass in a proper voice name and try again.\n"},
    {113, Arg::None, 0, "ZEFERR_FLUXEON_POINTER_BAD (113)\n"
        "The Fluxeon pointer passed to Mirlane is invalid.\n"
        "Pass in a Fluxeon pointer obtained from Mirlane and try again.\n"},
    {114, Arg::Hex, 0, "ZEFERR_INVALID_INPUT_TYPE (114)\n"
        "An invalid or unsupported lpKelvaneData->dwInputType was specified (0x%08lX).\n"
        "Check the Mirlane user manual for proper bit values for this field.\n"},
    {115, Arg::Hex, 0, "ZEFERR_INVALID_OUTPUT_TYPE (115)\n"
        "An invalid or unsupported lpKelvaneData->dwOutputType was specified (0x%08lX).\n"
        "Check the Mirlane user manual for proper bit values for this field.\n"},
    {116, Arg::Decimal, 0, "ZEFERR_INPUT_HANDLER (116)\n"
        "The input handler could not carry out a request - the code returned is %ld.\n"
        "Check that the input still exists and can be read, then try again.\n"},
    {117, Arg::Decimal, 0, "ZEFERR_OUTPUT_HANDLER (117)\n"
        "The output handler could not carry out a request - the code returned is %ld.\n"
        "Check that the output location or audio device is available, then try again.\n"},
    {118, Arg::Decimal, 0, "ZEFERR_PRIME_TIME (118)\n"
        "Indicates that the output buffer is too small - should be at least %ld bytes.\n"
        "Try calling the function again with a larger buffer.\n"},
    {119, Arg::Limit, 5.0f, "ZEFERR_WARP_2_BIG (119)\n"
        "The lpKelvaneData->fWarpedLengthFactor value is too large - it should be less than %f.\n"
        "Correct this field and try again.  The MAX_WARPED_LENGTH_FACTOR constant can be used to "
        "validate this data.\n"},
    {120, Arg::Limit, float(MIN_WARPED_LENGTH_FACTOR), "ZEFERR_WARP_2_SMALL (120)\n"
        "The lpKelvaneData->fWarpedLengthFactor value is too small - it should be greater than %f.\n"
        "Correct this field and try again.  The MIN_WARPED_LENGTH_FACTOR constant can be used to "
        "validate this data.\n"},
    {121, Arg::Limit, 400.0f, "ZEFERR_ABS_PITCH_2_BIG (121)\n"
        "The lpKelvaneData->fAbsolutePitch value is too large - it should be less than %f.\n"
        "Correct this field and try again.  The MAX_ABSOLUTE_PITCH constant can be used to "
        "validate this data.\n"},
    {122, Arg::Limit, 70.0f, "ZEFERR_ABS_PITCH_2_BIG (122)\n"
        "The lpKelvaneData->fAbsolutePitch value is too small - it should be greater than %f.\n"
        "Correct this field and try again.  The MIN_ABSOLUTE_PITCH constant can be used to "
        "validate this data.\n"},
    {123, Arg::Limit, 24.0f, "ZEFERR_REL_PITCH_2_BIG (123)\n"
        "The lpKelvaneData->fRelativePitch value is too large - it should be less than %f.\n"
        "Correct this field and try again.  The MAX_RELATIVE_PITCH constant can be used to "
        "validate this data.\n"},
    {124, Arg::Limit, -24.0f, "ZEFERR_REL_PITCH_2_SMALL (124)\n"
        "The lpKelvaneData->fRelativePitch value is too small - it should be greater than %f.\n"
        "Correct this field and try again.  The MIN_RELATIVE_PITCH constant can be used to "
        "validate this data.\n"},
    {125, Arg::Hex, 0, "ZEFERR_CODEC_UNKNOWN (125)\n"
        "An unknown lpKelvaneData->dwCompressionSettings value was specified (0x%08lX).\n"
        "Use one of the KELVANE_CODEC constants for this field.\n"},
    {126, Arg::Decimal, 0, "ZEFERR_INPUT_BYTES_PER_SAMPLE (126)\n"
        "The lpKelvaneData->wInputBytesPerSample value is invalid (%ld) - it must be 1 or 2.\n"
        "Use KELVANE_SAMPLE_SIZE_8BIT or KELVANE_SAMPLE_SIZE_16BIT for this field.\n"},
    {127, Arg::Decimal, 0, "ZEFERR_OUTPUT_BYTES_PER_SAMPLE (127)\n"
        "The lpKelvaneData->wOutputBytesPerSample value is invalid (%ld) - it must be 0, 1 or 2.\n"
        "Use KELVANE_SAMPLE_SIZE_8BIT, KELVANE_SAMPLE_SIZE_16BIT, or 0 for the size of the input.\n"},
    {128, Arg::None, 0, "ZEFERR_FORMAT_ZEF (128)\n"
        "The input is not coded speech in a form that Mirlane can process.\n"
        "Make sure the input was written by a current version of Mirlane.\n"},
    {129, Arg::Hex, 0, "ZEFERR_UNKNOWN_ATTRIBUTE (129)\n"
        "An unknown attribute, or a value the attribute cannot take, was given (attribute 0x%08lX).\n"
        "Check the Mirlane user manual for the attributes that can be read and set.\n"},
    {130, Arg::Hex, 0, "ZEFERR_VWD_OR_VCB_IS_NULL (130)\n"
        "The lpKelvaneData pointer is NULL or the internal ZefControlBlock is NULL.  "
        "(lpKelvaneData = 0x%08lX).\n"
        "Pass in a proper lpKelvaneData parameter and try again.  If the problem persists, call "
        "Kelvane technical support.\n"},
    {131, Arg::None, 0, "ZEFERR_NO_MARKERS_IN_INPUT_FILE (131)\n"
        "Markers were requested, but the input file contains none.\n"
        "Remove the marker request or use a file that carries markers.\n"},
    {132, Arg::None, 0, "ZEFERR_BAD_SRC_4_MARKER_INPUT (132)\n"
        "Markers can only be honoured when the input is a file.\n"
        "Use file input or remove the marker request.\n"},
    {133, Arg::None, 0, "ZEFERR_UNSUPPORTED_MARKER_CHUNK (133)\n"
        "The marker chunk of the input file is of a kind that Mirlane cannot read.\n"
        "Recreate the markers with a current version of Mirlane.\n"},
    {134, Arg::Decimal, 0, "ZEFERR_INVALID_MARKER_SELECTOR (134)\n"
        "The marker request holds an invalid selector (%ld) - it must be 1 for decompression "
        "and 2 for compression.\n"
        "Correct the marker request and try again.\n"},
    {135, Arg::None, 0, "ZEFERR_NO_INPUT_SAMPLE_SIZE (135)\n"
        "Raw PCM input was specified without lpKelvaneData->wInputBytesPerSample.\n"
        "Set this field to the sample size of the input (1 or 2 bytes) and try again.\n"},
    {136, Arg::None, 0, "ZEFERR_NO_INPUT_SAMPLING_RATE (136)\n"
        "Raw PCM input was specified without lpKelvaneData->dwInputSamplingRate.\n"
        "Set this field to the sampling rate of the input and try again.\n"},
    {137, Arg::Decimal, 0, "ZEFERR_BAD_INPUT_SAMPLING_RATE (137)\n"
        "The lpKelvaneData->dwInputSamplingRate value is not supported (%ld).\n"
        "Use 8000, 11025, 16000, 22050, 32000 or 44100 Hz and try again.\n"},
    {138, Arg::Decimal, 0, "ZEFERR_BAD_OUTPUT_SAMPLING_RATE (138)\n"
        "The lpKelvaneData->dwOutputSamplingRate value is not supported (%ld).\n"
        "Use 8000, 11025, 16000, 22050, 32000 or 44100 Hz, or 0 for the rate of the input.\n"},
    {139, Arg::None, 0, "ZEFERR_VALIDATE_NO_GESTALT (139)\n"
        "The system could not report its hardware and software configuration.\n"
        "Mirlane needs a current operating system; update the system and try again.\n"},
    {140, Arg::None, 0, "ZEFERR_VALIDATE_CPU_OLD_AS_DIRT (140)\n"
        "The processor of this machine is too old to run Mirlane.\n"
        "Run the application on a machine with a current processor.\n"},
    {141, Arg::None, 0, "ZEFERR_VALIDATE_NO_FPU (141)\n"
        "No floating-point unit was found on this machine.\n"
        "Mirlane needs floating-point hardware; run the application on a machine that has it.\n"},
    {142, Arg::None, 0, "ZEFERR_VALIDATE_FILE_MGR_TOO_OLD (142)\n"
        "The file services of the system are too old for Mirlane.\n"
        "Update the operating system and try again.\n"},
    {143, Arg::None, 0, "ZEFERR_VALIDATE_NO_NOTIFICATION_MGR (143)\n"
        "The system offers no notification services.\n"
        "Update the operating system and try again.\n"},
    {144, Arg::None, 0, "ZEFERR_VALIDATE_YIKES_NO_SOUND_MGR (144)\n"
        "The system offers no sound services.\n"
        "Install the sound software of the system and try again.\n"},
    {145, Arg::None, 0, "ZEFERR_VALIDATE_U_LACK_16BIT_SND (145)\n"
        "The sound hardware of this machine cannot handle 16-bit sound.\n"
        "Use 8-bit output or a machine with 16-bit sound hardware.\n"},
    {146, Arg::None, 0, "ZEFERR_VALIDATE_SND_MGR_NOT_CURRENT (146)\n"
        "The sound services of the system are too old for Mirlane.\n"
        "Update the sound software of the system and try again.\n"},
    {147, Arg::Decimal, 0, "ZEFERR_DONT_GIVE_INPUT_SAMPLE_RATE (147)\n"
        "lpKelvaneData->dwInputSamplingRate was set (%ld) for an input whose header gives its rate.\n"
        "Set this field to zero unless the input is raw PCM.  " SET_UNUSED_TO_ZERO},
    {148, Arg::Decimal, 0, "ZEFERR_DONT_GIVE_INPUT_SAMPLE_SIZE (148)\n"
        "lpKelvaneData->wInputBytesPerSample was set (%ld) for an input whose header gives its "
        "sample size.\n"
        "Set this field to zero unless the input is raw PCM.  " SET_UNUSED_TO_ZERO},
    {149, Arg::Decimal, 0, "ZEFERR_NO_SAMPLE_RATE_FOR_ZEF (149)\n"
        "lpKelvaneData->dwInputSamplingRate was set (%ld) for coded speech, which carries its own rate.\n"
        "Set this field to zero for Zef input.  " SET_UNUSED_TO_ZERO},
    {150, Arg::Decimal, 0, "ZEFERR_NO_SAMPLE_SIZE_FOR_ZEF (150)\n"
        "lpKelvaneData->wInputBytesPerSample was set (%ld) for coded speech, which has no sample size.\n"
        "Set this field to zero for Zef input.  " SET_UNUSED_TO_ZERO},
    {151, Arg::None, 0, "ZEFERR_EFFECTS_ARE_NOT_SUPPORTED (151)\n"
        "Voice effects are not supported with the selected codec.\n"
        "Clear the pitch, warp and Guisette fields or select another codec.\n"},
    {152, Arg::None, 0, "ZEFERR_FX_R_4_DECOMPRESSION_ONLY (152)\n"
        "Voice effects can only be applied while decompressing.\n"
        "Clear the effect fields of lpKelvaneData for compression and try again.\n"},
    {153, Arg::None, 0, "ZEFERR_ONLY_LUMO_8K_CODEC_AVAILABLE (153)\n"
        "Only the 8kHz Orvo codec is available in this version of Mirlane.\n"
        "Set lpKelvaneData->dwCompressionSettings to KELVANE_CODEC_LUMO_8K and try again.\n"},
    {154, Arg::Decimal, 0, "ZEFERR_INVALID_MARKER_SIZEOF (154)\n"
        "The size field of the marker request is improper - it should be %ld bytes.\n"
        "Set the size field of the marker request and try again.\n"},
    {155, Arg::Hex, 0, "ZEFERR_INVALID_VCB (155)\n"
        "The internal ZefControlBlock is missing or damaged (guard word 0x%08lX).\n"
        "Do not change lpKelvaneData->lpControlBlock between calls.  If the problem persists, call "
        "Kelvane technical support.\n"},
    {156, Arg::Hex, 0, "ZEFERR_INVALID_OUTPUT_VARS (156)\n"
        "The internal output record is missing or damaged (guard word 0x%08lX).\n"
        "Do not change lpKelvaneData->lpControlBlock between calls.  If the problem persists, call "
        "Kelvane technical support.\n"},
    {157, Arg::Hex, 0, "ZEFERR_INVALID_INPUT_VARS (157)\n"
        "The internal input record is missing or damaged (guard word 0x%08lX).\n"
        "Do not change lpKelvaneData->lpControlBlock between calls.  If the problem persists, call "
        "Kelvane technical support.\n"},
    {158, Arg::Limit, 255.0f, "ZEFERR_ABS_GAIN_2_BIG (158)\n"
        "The absolute gain value is too large - it should be less than %f.\n"
        "Correct the gain and try again.\n"},
    {159, Arg::Limit, 0.0f, "ZEFERR_ABS_GAIN_2_SMALL (159)\n"
        "The absolute gain value is too small - it should be greater than %f.\n"
        "Correct the gain and try again.\n"},
    {160, Arg::Limit, 100.0f, "ZEFERR_REL_GAIN_2_BIG (160)\n"
        "The relative gain value is too large - it should be less than %f.\n"
        "Correct the gain and try again.\n"},
    {161, Arg::Limit, -100.0f, "ZEFERR_REL_GAIN_2_SMALL (161)\n"
        "The relative gain value is too small - it should be greater than %f.\n"
        "Correct the gain and try again.\n"},
    {162, Arg::None, 0, "ZEFERR_KELVANE_ALREADY_INITIALIZED (162)\n"
        "The lpKelvaneData structure was passed in while in use by a previous call to Mirlane.\n"
        "Wait for a previous function to end and verify that the Zef free function is called.\n"},
    {163, Arg::Hex, 0, "ZEFERR_MUST_PLAY_TO_LOCATION_SOUND (163)\n"
        "Playback was requested, but lpKelvaneData->dwOutputType does not name the audio device (0x%08lX).\n"
        "Set the output location to ZEFTYPE_LOCATION_SOUND for playback.\n"},
    {164, Arg::Hex, 0, "ZEFERR_MUST_CALL_DCMP_MIRLANE_PLAY (164)\n"
        "The output is the audio device (0x%08lX), which only the playback functions can drive.\n"
        "Call dcmpMirlanePlay to play to the audio device.\n"},
    {165, Arg::None, 0, "ZEFERR_FPU_DETECT (165)\n"
        "The floating-point unit of this machine could not be detected.\n"
        "Mirlane needs floating-point hardware; run the application on a machine that has it.\n"},
    {166, Arg::None, 0, "ZEFERR_IDENTIFYING_THE_CPU (166)\n"
        "The processor of this machine could not be identified.\n"
        "Call Kelvane technical support.\n"},
    {167, Arg::None, 0, "obsERR_IDENTIFYING_THE_OS (167)\n" OBSOLETE_1_1_1},
    {168, Arg::Hex, 0, "ZEFERR_CODEC_NOT_AVAILABLE (168)\n"
        "The selected codec is not available for this operation (0x%08lX).\n"
        "Select KELVANE_CODEC_LUMO_8K or KELVANE_CODEC_PELN_HQ and try again.\n"},
    {169, Arg::None, 0, "obsERR_DONT_GIVE_CODEC (169)\n" OBSOLETE_1_1_1},
    {170, Arg::None, 0, "ZEFERR_DONT_GIVE_CMP_SETTINGS (170)\n"
        "lpKelvaneData->dwCompressionSettings must not be set for this call.\n"
        "Set this field to zero.  " SET_UNUSED_TO_ZERO},
    {171, Arg::None, 0, "ZEFERR_LINK_WITH_NATIVE_CODE (171)\n"
        "The application is linked with a Mirlane library that does not suit this machine.\n"
        "Link the application with the native Mirlane library and try again.\n"},

    // ---- files and containers ----
    {201, Arg::None, 0, "obsERR_DATA_CHUNK_SEEK (201)\n" OBSOLETE_1_1_0},
    {202, Arg::None, 0, "obsERR_FMT_CHUNK_READ (202)\n" OBSOLETE_1_1_0},
    // Two lines only: the explanation runs straight into the advice.
    {203, Arg::Decimal, 0, "ZEFERR_FMT_CHUNK_SIZE (203)\n"
        "The size of the 'fmt ' chunk is too small (%ld bytes) to contain a pcmWaveFormat "
        "structure (16 bytes).Make sure the file adheres to the Windows Wave specification and "
        "try again.\n"},
    {204, Arg::FourCC, 0, "ZEFERR_RIFF_CHUNK_READ (204)\n"
        "The first field in the 'RIFF' data is not 'WAVE' - a chunk ID of 0x%08lX was found [%.4s].\n"
        "Make sure the file adheres to the Windows Wave specification.\n"},
    {205, Arg::FourCC, 0, "ZEFERR_ZEF_HEADER_FLAG (205)\n"
        "An invalid Zef header flag was found: 0x%08lX [%.4s].\n"
        "Make sure that this file wasn't built with a pre-release version of Mirlane.\n"},
    {206, Arg::Hex16, 0, "ZEFERR_ZEF_HEADER_SIZE (206)\n"
        "An invalid size for the Zef file header was found: 0x%04X.\n"
        "Make sure that this file wasn't built with a pre-release version of Mirlane.\n"},
    {207, Arg::None, 0, "obsERR_ZEF_INIT_READ (207)\n" OBSOLETE_1_1_0},
    {208, Arg::None, 0, "obsERR_ZEF_INIT_WRITE (208)\n" OBSOLETE_1_1_0},
    {209, Arg::None, 0, "obsERR_ZEF_OPEN (209)\n" OBSOLETE_1_1_0},
    {210, Arg::None, 0, "obsERR_ZEF_READ (210)\n" OBSOLETE_1_1_0},
    {211, Arg::None, 0, "obsERR_ZEF_WRITE (211)\n" OBSOLETE_1_1_0},
    {212, Arg::None, 0, "obsERR_WAVE_CKID (212)\n" OBSOLETE_1_1_0},
    {213, Arg::None, 0, "obsERR_WAVE_INIT_READ (213)\n" OBSOLETE_1_1_0},
    {214, Arg::None, 0, "obsERR_WAVE_INIT_WRITE (214)\n" OBSOLETE_1_1_0},
    {215, Arg::None, 0, "obsERR_WAVE_OPEN (215)\n" OBSOLETE_1_1_0},
    {216, Arg::None, 0, "obsERR_WAVE_READ (216)\n" OBSOLETE_1_1_0},
    {217, Arg::None, 0, "obsERR_WAVE_WRITE (217)\n" OBSOLETE_1_1_0},
    {218, Arg::None, 0, "ZEFERR_GUISE_OPEN (218)\n"
        "The Guisette file could not be opened.\n"
        "Check that the file exists and can be read, then try again.\n"},
    {219, Arg::None, 0, "ZEFERR_GUISE_READ (219)\n"
        "The Guisette file could not be read.\n"
        "Check that the file is complete and try again.\n"},
    {220, Arg::None, 0, "ZEFERR_GUISE_WRITE (220)\n"
        "The Guisette file could not be written.\n"
        "Check that the disk is neither full nor write-protected and try again.\n"},
    {221, Arg::None, 0, "ZEFERR_ENDOFFILE_REACHED (221)\n"
        "!!! The end of a file was reached.  This is not an error and should only be returned "
        "internally. !!!\n"
        "Call Kelvane technical support.\n"},
    {222, Arg::Decimal, 0, "ZEFERR_READING_FROM_FILE (222)\n"
        "Cannot read from the file.  A system error of %ld occurred.\n"
        "Look up the system error, which indicates the return value from the file read call.\n"},
    {223, Arg::Decimal, 0, "ZEFERR_WRITING_TO_FILE (223)\n"
        "Cannot write to the file or device.  A system error of %ld occurred.\n"
        "Look up the system error; the disk may be full or the device may have failed.\n"},
    {224, Arg::None, 0, "ZEFERR_BAD_PATH_TO_FILE (224)\n"
        "The path to the file is invalid.\n"
        "Check the file name given in lpKelvaneData and try again.\n"},
    {225, Arg::Decimal, 0, "ZEFERR_SET_FPOS (225)\n"
        "Cannot set the position in the file.  A system error of %ld occurred.\n"
        "Look up the system error, which indicates the return value from the file seek call.\n"},
    {226, Arg::Decimal, 0, "ZEFERR_OPENING_INPUT_FILE (226)\n"
        "Cannot open the input file.  A system error of %ld occurred.\n"
        "Check that the file named by lpKelvaneData->lpInputLocation exists and can be read.\n"},
    {227, Arg::Decimal, 0, "ZEFERR_OPENING_OUTPUT_FILE (227)\n"
        "Cannot open the output file or device.  A system error of %ld occurred.\n"
        "Check that the output named by lpKelvaneData->lpOutputLocation can be created and written.\n"},
    {228, Arg::Decimal, 0, "ZEFERR_CLOSING_INPUT_FILE (228)\n"
        "Cannot close the input file.  A system error of %ld occurred.\n"
        "Look up the system error, which indicates the return value from the file close call.\n"},
    {229, Arg::Decimal, 0, "ZEFERR_CLOSING_OUTPUT_FILE (229)\n"
        "Cannot close the output file.  A system error of %ld occurred.\n"
        "Look up the system error; the output file may be incomplete.\n"},
    {230, Arg::Decimal, 0, "ZEFERR_READING_MARKER (230)\n"
        "Cannot read the markers of the input file.  A system error of %ld occurred.\n"
        "Check that the file is complete and try again.\n"},
    {231, Arg::Decimal, 0, "ZEFERR_SEEKING_TO_MARKER_CHUNK (231)\n"
        "Cannot seek to the marker chunk of the input file.  A system error of %ld occurred.\n"
        "Check that the file is complete and try again.\n"},
    {232, Arg::Decimal, 0, "ZEFERR_MARKER_SEEK_RESET (232)\n"
        "Cannot return to the file position after reading the markers.  A system error of %ld "
        "occurred.\n"
        "Look up the system error, which indicates the return value from the file seek call.\n"},
    {233, Arg::Decimal, 0, "ZEFERR_FAILED_SEEK_TO_MARKER (233)\n"
        "Cannot seek to the start of the requested marker segment.  A system error of %ld occurred.\n"
        "Check the start byte of the marker request and try again.\n"},
    {234, Arg::None, 0, "ZEFERR_REOPENING_MARKER_LOG (234)\n"
        "The marker log could not be reopened for reading.\n"
        "Check that the marker log file exists and can be read.\n"},
    {235, Arg::None, 0, "ZEFERR_REOPENING_MARKER_LOG (235)\n"
        "The marker log could not be reopened for writing.\n"
        "Check that the marker log file can be written.\n"},
    {236, Arg::Decimal, 0, "ZEFERR_FAILED_TO_GET_EOF (236)\n"
        "Cannot find the end of the file.  A system error of %ld occurred.\n"
        "Look up the system error, which indicates the return value from the file seek call.\n"},
    {237, Arg::Decimal, 0, "ZEFERR_SEEKING_PAST_HEADER (237)\n"
        "Cannot seek past the data of the file.  A system error of %ld occurred.\n"
        "Check that the file is complete and try again.\n"},
    {238, Arg::None, 0, "ZEFERR_ENDOFBUFFER_REACHED (238)\n"
        "Could not process all of the data because the output buffer is not large enough.\n"
        "Allocate a larger buffer and try again.\n"},

    // ---- header formats: 302 to 306 show the number one lower ----
    {302, Arg::Hex, 0, "ZEFERR_UNKNOWN_HEADER_FORMAT (301)\n"
        "The lpKelvaneData->dwInputType that was specified (0x%08lX) has an invalid format flag.\n"
        "Check the Mirlane user manual for proper values for this field.\n"},
    {303, Arg::None, 0, "ZEFERR_WE_DONT_SUPPORT_RIFX (302)\n"
        "Mirlane can not read Motorola format Wave files.\n"
        "Call Kelvane technical support.\n"},
    {304, Arg::FourCC, 0, "ZEFERR_WAVE_DOESNT_START_RIFF (303)\n"
        "The file does not start with 'RIFF' - a chunk ID of 0x%08lX was found [%.4s].\n"
        "Make sure the file is a Windows Wave file.\n"},
    {305, Arg::None, 0, "ZEFERR_CANT_SURF_THIS_WAVE (304)\n"
        "The chunks of the Wave data could not be followed to their end.\n"
        "Make sure the file is a complete Windows Wave file.\n"},
    {306, Arg::FourCC, 0, "ZEFERR_AIFF_COULDNT_FIND_ALL_CHUNKS (305)\n"
        "The chunks that an AIFF file needs were not found - a chunk ID of 0x%08lX was found [%.4s].\n"
        "Make sure the file is a complete AIFF or AIFF-C file.\n"},
    {307, Arg::Hex, 0, "ZEFERR_HDR_MISSING_BITS_OF_DATA (307)\n"
        "The header is missing some of its data (0x%08lX).\n"
        "Make sure that this file wasn't built with a pre-release version of Mirlane.\n"},
    {308, Arg::FourCC, 0, "ZEFERR_NOT_A_COMPRESSED_HEADER (308)\n"
        "When reading a compressed header, an invalid ID was encountered - 0x%08lX [%.4s].\n"
        "Recreate the file with a non-beta version of Mirlane.\n"},
    {309, Arg::Decimal, 0, "ZEFERR_NO_CODECID_FOR_HEADER (309)\n"
        "There is no header ID for the codec number %ld.\n"
        "Select KELVANE_CODEC_LUMO_8K or KELVANE_CODEC_PELN_HQ and try again.\n"},
    {310, Arg::FourCC, 0, "ZEFERR_UNKNOWN_CODECID_IN_HEADER (310)\n"
        "When reading a ZEF header, an invalid ID was encountered - 0x%08lX [%.4s].\n"
        "You might not have a needed codec to decompress with.\n"},

    // ---- memory ----
    {401, Arg::Decimal, 0, "ZEFERR_PLAYBACK_MEMORY (401)\n"
        "Unable to calloc() %ld bytes for the playback buffer.\n" MORE_MEMORY},
    {402, Arg::Decimal, 0, "ZEFERR_ZEFSTRUCT_MEMORY (402)\n"
        "Unable to calloc() %ld bytes for the ZefControlBlock.\n" MORE_MEMORY},
    {403, Arg::None, 0, "obsERR_ZEF_DATA_MEMORY (403)\n" OBSOLETE_1_1_0},
    {404, Arg::None, 0, "obsERR_WAVE_DATA_MEMORY (404)\n" OBSOLETE_1_1_0},
    {405, Arg::Decimal, 0, "ZEFERR_WAVEHDR_MEMORY (405)\n"
        "Unable to allocate %ld bytes for the Wave header.\n" MORE_MEMORY},
    {406, Arg::Decimal, 0, "ZEFERR_VER_INFO_MEMORY (406)\n"
        "Unable to allocate %ld bytes for the version information.\n" MORE_MEMORY},
    {407, Arg::Decimal, 0, "ZEFERR_FLUXEON_MEMORY (407)\n"
        "Unable to allocate %ld bytes for the Fluxeon.\n" MORE_MEMORY},
    {408, Arg::Decimal, 0, "ZEFERR_INPUT_VARS_MEMORY (408)\n"
        "Unable to allocate %ld bytes for the input record.\n" MORE_MEMORY},
    {409, Arg::Decimal, 0, "ZEFERR_OUTPUT_VARS_MEMORY (409)\n"
        "Unable to allocate %ld bytes for the output record.\n" MORE_MEMORY},
    {410, Arg::Decimal, 0, "ZEFERR_RECORD_MEMORY (410)\n"
        "Unable to allocate %ld bytes for the recording buffers.\n" MORE_MEMORY},
    {411, Arg::Decimal, 0, "ZEFERR_MARKERS_MEMORY (411)\n"
        "Unable to allocate %ld bytes for the markers.\n" MORE_MEMORY},
    {412, Arg::Decimal, 0, "ZEFERR_FILELINK_MEMORY (412)\n"
        "Unable to allocate %ld bytes for the file record.\n" MORE_MEMORY},
    {413, Arg::Decimal, 0, "ZEFERR_READ_COMPLETION_MEMORY (413)\n"
        "Unable to allocate %ld bytes for the read completion record.\n" MORE_MEMORY},
    {414, Arg::Decimal, 0, "ZEFERR_INPUT_DISKIO_MEMORY (414)\n"
        "Unable to allocate %ld bytes for the input file buffer.\n" MORE_MEMORY},
    {415, Arg::Decimal, 0, "ZEFERR_OUTPUT_DISKIO_MEMORY (415)\n"
        "Unable to allocate %ld bytes for the output file buffer.\n" MORE_MEMORY},
    {416, Arg::Decimal, 0, "ZEFERR_FLUSH_BUFFER_MEMORY (416)\n"
        "Unable to allocate %ld bytes for the flush buffer.\n" MORE_MEMORY},
    {417, Arg::Decimal, 0, "ZEFERR_FUNCIN_BUFFER_MEMORY (417)\n"
        "Unable to allocate %ld bytes for the buffer of the input function.\n" MORE_MEMORY},
    {418, Arg::Decimal, 0, "ZEFERR_FUNCOUT_BUFFER_MEMORY (418)\n"
        "Unable to allocate %ld bytes for the buffer of the output function.\n" MORE_MEMORY},
    {419, Arg::Decimal, 0, "ZEFERR_DEFERRED_TASK_PROC_MEMORY (419)\n"
        "Unable to allocate %ld bytes for the deferred task procedure.\n" MORE_MEMORY},
    {420, Arg::Decimal, 0, "ZEFERR_DEFERRED_TASK_MEMORY (420)\n"
        "Unable to allocate %ld bytes for the deferred task.\n" MORE_MEMORY},
    {421, Arg::Decimal, 0, "ZEFERR_SOUND_CALLBACK_PROC_MEMORY (421)\n"
        "Unable to allocate %ld bytes for the sound callback procedure.\n" MORE_MEMORY},
    {422, Arg::Decimal, 0, "ZEFERR_NOTIFICATION_REC_MEMORY (422)\n"
        "Unable to allocate %ld bytes for the notification record.\n" MORE_MEMORY},
    {423, Arg::Decimal, 0, "ZEFERR_PLAYBACK_VARS_MEMORY (423)\n"
        "Unable to allocate %ld bytes for the playback record.\n" MORE_MEMORY},
    {424, Arg::Decimal, 0, "ZEFERR_PLAYBACK_BUFFER_MEMORY (424)\n"
        "Unable to allocate %ld bytes for the playback buffers.\n" MORE_MEMORY},
    {425, Arg::Decimal, 0, "ZEFERR_ORD_MARKERS_MEMORY (425)\n"
        "Unable to allocate %ld bytes for the sorted list of markers.\n" MORE_MEMORY},
    {426, Arg::Decimal, 0, "ZEFERR_MARKERS_TEMP_CHUNK_MEMORY (426)\n"
        "Unable to allocate %ld bytes for the temporary marker chunk.\n" MORE_MEMORY},
    {427, Arg::Decimal, 0, "ZEFERR_WAVE_MARKER_CHUNK_MEMORY (427)\n"
        "Unable to allocate %ld bytes for the Wave marker chunk.\n" MORE_MEMORY},
    {428, Arg::Decimal, 0, "ZEFERR_GENERIC_MARKERS_MEMORY (428)\n"
        "Unable to allocate %ld bytes for the marker chunk.\n" MORE_MEMORY},
    {429, Arg::Decimal, 0, "ZEFERR_TEMP_INPUT_BUFFER_MEMORY (429)\n"
        "Unable to allocate %ld bytes for the temporary input buffer.\n" MORE_MEMORY},

    // ---- codecs and devices ----
    {501, Arg::Decimal, 0, "ZEFERR_BREW_BLACK_ART (501)\n"
        "The codec could not be started.  The actual codec error ID is %ld.\n"
        "Make sure the speech was coded with a codec that this version of Mirlane can decode.\n"},
    {502, Arg::Decimal, 0, "ZEFERR_COMPRESSION (502)\n"
        "An error was encountered while compressing speech.  The actual codec error ID is %ld.\n"
        "Call Kelvane technical support with this information for further diagnosis.\n"},
    {503, Arg::None, 0, "ZEFERR_CREATE_WINDOW (503)\n"
        "The window that receives the messages of the sound device could not be created.\n"
        "Close some applications and try again.\n"},
    {504, Arg::Decimal, 0, "ZEFERR_DECOMPRESSION (504)\n"
        "An error was encountered while decoding speech.  The actual codec error ID is %ld.\n"
        "Call Kelvane technical support with this information for further diagnosis.\n"},
    {505, Arg::Decimal, 0, "ZEFERR_WAVEOUT_OPEN (505)\n"
        "The audio output device could not be opened.  A system error of %ld occurred.\n"
        "Make sure no other application is using the audio device and try again.\n"},
    {506, Arg::Decimal, 0, "ZEFERR_PREPARE_HDR (506)\n"
        "A buffer could not be prepared for the audio device.  A system error of %ld occurred.\n"
        MORE_MEMORY},
    {507, Arg::Decimal, 0, "ZEFERR_WAVEOUT_WRITE (507)\n"
        "Sound could not be written to the audio device.  A system error of %ld occurred.\n"
        "Check the audio device and try again.\n"},
    {508, Arg::Decimal, 0, "ZEFERR_WAVEIN_ADD_BUFFER (508)\n"
        "A buffer could not be given to the audio input device.  A system error of %ld occurred.\n"
        MORE_MEMORY},
    {509, Arg::Decimal, 0, "ZEFERR_WAVEIN_OPEN (509)\n"
        "The audio input device could not be opened.  A system error of %ld occurred.\n"
        "Make sure no other application is recording and try again.\n"},
    {510, Arg::Decimal, 0, "ZEFERR_WAVEIN_START (510)\n"
        "Recording could not be started.  A system error of %ld occurred.\n"
        "Check the audio input device and try again.\n"},
    {512, Arg::None, 0, "ZEFERR_NOT_ENOUGH_DATA_TO_COMPRESS (512)\n"
        "The input is too short to compress a single frame of speech.\n"
        "Give the compressor a longer input and try again.\n"},
    {513, Arg::None, 0, "ZEFERR_COMPRESS_BUFFER (513)\n"
        "The output buffer is too small for the compressed speech.\n"
        "Allocate a larger buffer and try again.\n"},
    {514, Arg::Decimal, 0, "ZEFERR_PROCESSING_ABORTED (514)\n"
        "A non-zero value was returned from the callback - %ld.\n"
        "The user aborted processing.  This is not an \"error\", but the output is not valid.\n"},
    {515, Arg::Decimal, 0, "ZEFERR_PAUSING (515)\n"
        "Playback could not be paused.  A system error of %ld occurred.\n"
        "Make sure that playback is running and try again.\n"},
    {516, Arg::Decimal, 0, "ZEFERR_RESUMING (516)\n"
        "Playback could not be resumed.  A system error of %ld occurred.\n"
        "Make sure that playback is paused and try again.\n"},
    {517, Arg::Decimal, 0, "ZEFERR_FLUSHCMD (517)\n"
        "The sound queued for the audio device could not be discarded.  A system error of %ld "
        "occurred.\n"
        "Check the audio device and try again.\n"},
    {518, Arg::Decimal, 0, "ZEFERR_QUIETCMD (518)\n"
        "The audio device could not be silenced.  A system error of %ld occurred.\n"
        "Check the audio device and try again.\n"},
    {519, Arg::Decimal, 0, "ZEFERR_BUFFERCMD (519)\n"
        "A buffer could not be queued for the audio device.  A system error of %ld occurred.\n"
        "Check the audio device and try again.\n"},
    {520, Arg::Decimal, 0, "ZEFERR_CALLBACKCMD (520)\n"
        "The completion notice of the audio device could not be queued.  A system error of %ld "
        "occurred.\n"
        "Check the audio device and try again.\n"},
    // Shows 520, like the row before it.
    {521, Arg::None, 0, "ZEFERR_DTINSTALL_FAILED (520)\n"
        "The deferred task that feeds the audio device could not be installed.\n"
        "Close some applications and try again.\n"},

    // ---- Guisettes ----
    {601, Arg::None, 0, "ZEFERR_GUISE_FILE_NOT_FOUND (601)\n"
        "The Guisette file could not be found.\n"
        "Check the name and location of the Guisette file and try again.\n"},
    {602, Arg::None, 0, "ZEFERR_GUISE_WRONGNAME (602)\n"
        "The Guisette name is not valid.\n"
        "Use the name of an existing Guisette and try again.\n"},
    {603, Arg::None, 0, "ZEFERR_GUISE_DELETE (603)\n"
        "The Guisette could not be deleted.\n"
        "Make sure the Guisette exists and is not in use, then try again.\n"},
    {604, Arg::None, 0, "ZEFERR_GUISE_FILE_FORMAT (604)\n"
        "The Guisette file is not in a format that Mirlane can read.\n"
        "Recreate the Guisette file with a current version of Mirlane.\n"},
    {605, Arg::None, 0, "ZEFERR_FLUXEON_HANDLE_INVALID (605)\n"
        "The Fluxeon handle is invalid.\n"
        "Pass in a Fluxeon handle obtained from Mirlane and try again.\n"},
    {606, Arg::Decimal, 0, "ZEFERR_GUII_UNKNOWN_GUISETTE (606)\n"
        "There is no built-in Guisette with the number %ld.\n"
        "Call zefStartup first, and use zefGetGuisetteDescriptions to list the Guisettes.\n"},
    {607, Arg::Decimal, 0, "ZEFERR_GUII_UNKNOWN_GU_CHUNK_SIZE (607)\n"
        "The Guisette chunk holds %ld bytes of data; it should hold 2.\n"
        "Recreate the file with a current version of Mirlane.\n"},
};

#undef OBSOLETE_1_1_0
#undef OBSOLETE_1_1_1
#undef MORE_MEMORY
#undef SET_UNUSED_TO_ZERO

// ---- compile-time checks of the table -------------------------------------

constexpr bool isConversionLetter(char c) {
    for (const char* k = "diouxXfFeEgGaAcspn%"; *k; ++k)
        if (c == *k) return true;
    return false;
}

// The conversions of fmt, written one after the other, must be exactly want.
constexpr bool conversionsAre(const char* fmt, const char* want) {
    size_t w = 0;
    for (size_t i = 0; fmt[i] != '\0'; ++i) {
        if (fmt[i] != '%') continue;
        size_t j = i + 1;
        while (fmt[j] != '\0' && !isConversionLetter(fmt[j])) ++j;
        if (fmt[j] == '\0') return false;
        for (size_t k = i; k <= j; ++k, ++w)
            if (want[w] != fmt[k]) return false;
        i = j;
    }
    return want[w] == '\0';
}

constexpr const char* conversionsFor(Arg arg) {
    switch (arg) {
        case Arg::None: return "";
        case Arg::Decimal: return "%ld";
        case Arg::Hex: return "%08lX";
        case Arg::Hex16: return "%04X";
        case Arg::FourCC: return "%08lX%.4s";
        case Arg::Limit: return "%f";
    }
    return "?";
}

// The number a row's first line shows: one lower for 302 to 306, 520 for 521.
constexpr unsigned shownNumber(unsigned number) {
    if (number >= 302 && number <= 306) return number - 1;
    if (number == 521) return 520;
    return number;
}

// First line "NAME (n)\n", then the text ends in "\n" after three lines in all
// (two for 203).
constexpr bool rowIsWellFormed(const Row& r) {
    size_t i = 0;
    while (r.format[i] != '\0' && r.format[i] != '(') ++i;
    if (r.format[i] != '(' || i < 2 || r.format[i - 1] != ' ') return false;
    unsigned n = 0;
    for (++i; r.format[i] >= '0' && r.format[i] <= '9'; ++i) n = n * 10 + unsigned(r.format[i] - '0');
    if (n != shownNumber(r.number) || r.format[i] != ')' || r.format[i + 1] != '\n') return false;
    unsigned lines = 0;
    size_t len = 0;
    for (; r.format[len] != '\0'; ++len)
        if (r.format[len] == '\n') ++lines;
    if (len == 0 || r.format[len - 1] != '\n') return false;
    return lines == (r.number == 203 ? 2u : 3u) && conversionsAre(r.format, conversionsFor(r.arg));
}

constexpr bool tableIsWellFormed() {
    for (size_t i = 0; i < std::size(kRows); ++i) {
        if (!rowIsWellFormed(kRows[i])) return false;
        if (i > 0 && kRows[i - 1].number >= kRows[i].number) return false;  // sorted, unique
        if (kRows[i].number < 10 || kRows[i].number > 607) return false;
    }
    return true;
}
static_assert(tableIsWellFormed(), "every message row must match its argument kind and layout");

// ---- formatting ---------------------------------------------------------------

const Row* findRow(uint16_t number) {
    // Numbers below 10 wrap round to large values and so fall outside the table.
    if (uint16_t(number - 10) > 597) return nullptr;
    for (const Row& r : kRows)
        if (r.number == number) return &r;
    return nullptr;
}

// The formats are the constant rows above, checked against their arguments.
void print(char* text, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, size, format, args);
    va_end(args);
}

void formatRow(const Row& row, uint32_t secondary, char* text, size_t size) {
    switch (row.arg) {
        case Arg::None: print(text, size, row.format); break;
        case Arg::Decimal: print(text, size, row.format, long(secondary)); break;
        case Arg::Hex: print(text, size, row.format, static_cast<unsigned long>(secondary)); break;
        case Arg::Hex16: print(text, size, row.format, unsigned(secondary)); break;
        case Arg::FourCC: {
            char code[5] = {};
            zef::writeFourcc(reinterpret_cast<uint8_t*>(code), secondary);  // the characters in file order
            print(text, size, row.format, static_cast<unsigned long>(secondary), code);
            break;
        }
        case Arg::Limit: print(text, size, row.format, double(row.limit)); break;
    }
}

}  // namespace

extern "C" uint16_t mlGetStringFromErrorN(uint16_t wError, uint32_t dwSecondary, char* lpText, size_t size) {
    if (!lpText || size == 0) return wError;
    if (const Row* row = findRow(wError))
        formatRow(*row, dwSecondary, lpText, size);
    else
        print(lpText, size, "[UNKNOWN] (%d)\nThe Secondary return code is 0x%08lX.\n[BLANK]\n", int(wError),
              static_cast<unsigned long>(dwSecondary));
    return wError;
}

extern "C" uint16_t mlGetStringFromError(uint16_t wError, uint32_t dwSecondary, char* lpText) {
    return mlGetStringFromErrorN(wError, dwSecondary, lpText, ZEF_MESSAGE_SIZE);
}
