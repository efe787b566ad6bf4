// Whole-file replacement for the image writers: a file is written under a
// temporary name beside the one it is meant for and renamed over that name
// only once every byte has reached it, so a failed or interrupted write leaves
// whatever was there before untouched, and writers racing for one name leave
// one writer's whole file. An existing file that the new one could not stand
// in for (owner, group, mode, user attributes, access list, a folder that
// refuses the new name) is written in place instead, under a lock. Internal
// to the image library.
#pragma once

#include <cstdint>
#include <cstdio>

// Room for a path name with its terminator.
constexpr int kReplacedNameMax = 4096;

// Where a write goes. The writer uses `file` only; the rest is for the close.
struct ReplacedFile {
    std::FILE* file;
    bool writtenAsIs;                  // no temporary file: a device, a FIFO, a file kept in place
    bool durable;                      // synced before it takes the name: it replaces a file
    int folder;                        // the target's folder, held open where the system allows
    int existing;                      // the file found at the name, held open likewise
    char target[kReplacedNameMax];     // the name the finished file takes
    char temporary[kReplacedNameMax];  // the file written until then
};

// Bytes of `name`'s start, at most `most`, that end between two characters
// of UTF-8 text: a temporary file's name shows this much of its target's.
inline int NameStartLength(const char* name, int most) {
    int length = 0;
    while (length < most && name[length] != '\0') {
        ++length;
    }
    // Back off a character cut short: a continuation byte follows the cut.
    int cut = length;
    while (cut > 0 && cut > length - 3 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80 ? length : cut;
}

// Opens a file to write `name` with. `options` are the writer's own
// (IMAGE_NO_FOLLOW and the like, image/image.h). A name that is a symbolic
// link is written through to the link's final target, unless the options hold
// IMAGE_NO_FOLLOW: then the name itself is replaced, whatever it is. A new
// file gets mode 0666 less the umask; a replaced regular file gets its owner,
// group, mode, user attributes and access list, or the write fails. Written
// in place: a device or FIFO reached through the name's links, and a regular
// file with one name, reached by following links, that a new file could not
// replace as itself. 0, or -1 when no file could be opened (nothing is then
// created).
int ReplacedFileOpen(uint32_t options, const char* name, ReplacedFile* replaced);

// Ends the write. With `keep`, everything buffered is written, a file that
// replaces another synced, the file closed and renamed over the name: 0, or -1
// when any of that fails, and then the old file is still in place. Without
// `keep` the temporary file is closed and removed (a file written in place
// stays as it is, maybe part written); returns -1. Never leaves the temporary
// file behind. The close of a file written in place releases its lock.
int ReplacedFileClose(ReplacedFile* replaced, bool keep);
