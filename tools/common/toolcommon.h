// Shared by the command-line tools: what they print when something fails,
// and the check that an output is not one of the inputs.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "mirlane.h"

namespace zeftool {

// `text` with control characters shown escaped ("\e[2J" instead of the
// sequence itself), so that nothing from a file reaches the terminal as a
// command.  Newlines stay when `keepNewlines` is set.
std::string printable(const std::string& text, bool keepNewlines = false);

// The system's text for an errno value as a line reads it ("permission
// denied"); 0, a read that found nothing, names an empty or short file.
std::string systemText(uint32_t err);

// One line in plain words for a library error: the system's text for a
// system error ("permission denied"), "not a Zef file", "the output is the
// input", ...  `decoding` tells how a header that cannot be read is named.
std::string plainWords(uint16_t err, uint32_t secondary, bool decoding);

// Prints "TOOL: FILE: WHAT", the library's message, and the plain-words line
// naming the file it is about (`output` for errors of the output file).
void reportLibraryError(const char* tool, const char* file, const char* what, const char* output, uint16_t err,
                        uint32_t secondary);

// True, after saying so, when `output` is the same file as one of `inputs`
// (whatever the spelling: ./.., hard or symbolic links).  "-" is no file.
bool refuseOutputOverInput(const char* tool, const char* output, std::initializer_list<const char*> inputs);

// Starts the library, so that it knows its Guisettes: 0 or its error.
uint16_t startLibrary();

// A control structure as a caller fills it: zeroed, the current form,
// normal length.
KELVANE_DATA freshControl();

}  // namespace zeftool
