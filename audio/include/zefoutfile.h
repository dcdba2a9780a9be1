// Writing an output file without ever losing one: every writer of the
// project (the tools, the codec library's file output, the file device of
// the audio layer) goes through these calls.
//
// - An output that is the same file as an input (same device and inode,
//   whatever the spelling: ./.., a hard link, a symbolic link) is refused
//   before anything is opened for writing.  Inputs are the files this
//   process has open for reading or mapped, plus the ones a caller names.
// - A regular file is written into a new temporary file beside its name and
//   renamed over it only when complete: a failure or a kill leaves the old
//   file as it was and no partial file.  The temporary file is unnamed
//   (O_TMPFILE) where the file system allows, so even a kill leaves nothing;
//   else it is a hidden name created with O_CREAT|O_EXCL|O_NOFOLLOW.
// - A symbolic link given as the name is replaced by the new file, never
//   written through; a write-protected file is not replaced.
// - A device or a pipe (anything that is not a regular file, or a name under
//   /dev or /proc such as /dev/stdout) is written in place.
//
// Results are errno values (0 on success).
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace zef {

// The result that means "the output is the input".
constexpr int kOutputIsInput = EEXIST;

struct OutFile {
    int fd = -1;
    std::string target;  // the name as given
    std::string temp;    // a named temporary file; empty when unnamed or in place
    bool inPlace = false;
    bool replacing = false;  // a regular file is there: its mode and owner carry over
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

// True when `name` (followed through links) is the file described by `in`.
bool sameFile(const char* name, const struct stat& in);
// True when `name` is a file this process has open for reading or mapped.
bool isOpenInput(const char* name);

// Opens the output for `name`: kOutputIsInput when it is an open input,
// EACCES for a write-protected file, else the error of the open.
int openOutFile(const char* name, OutFile& out);
// Puts the completed file in place of its name.  The descriptor stays open
// (the caller closes it); on failure the temporary file is removed.
int commitOutFile(OutFile& out);
// Removes what was written (nothing for a device or pipe); the descriptor
// stays open for the caller to close.
void discardOutFile(OutFile& out);

}  // namespace zef
