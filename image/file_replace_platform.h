// The system's part of whole-file replacement: image/file_replace.cpp keeps
// the temporary file's books and chooses the way a write goes; each platform
// (image/file_replace_<platform>.cpp) inspects names and moves files.
#pragma once

#include <cstdint>
#include <cstdio>

#include "image/file_replace.h"

// What a name stands for.
enum class ReplacedKind { kNone, kRegular, kFolder, kOther };

// Whether a new file can be the old one again: its owner, group, mode,
// attributes and access list, in a folder that lets it take the name.
// kNotPossible: this system, file system or user cannot (a write in place
// keeps the old file then); kFailed: it could but failed (a full disk), and
// the write fails with the old file untouched.
enum class Sameness { kUnknown, kSame, kNotPossible, kFailed };

struct ReplaceFacts {
    ReplacedKind kind;
    bool followLinks;  // the name's links are followed, else the name itself is replaced
    bool writable;     // a regular file we may write
    bool oneName;      // a regular file known by this one name
    Sameness sameness;
};

enum class ReplaceWay { kRefuse, kDevice, kReplace, kInPlace };

// The one rule for the way a write goes, from what is known so far.
ReplaceWay ChooseReplaceWay(const ReplaceFacts& facts);

enum class Created { kCreated, kNameTaken, kRefused, kFailed };

// Finds what `name` stands for: fills `facts`, and `replaced`'s target (and
// the descriptors the platform holds). 0, or -1 when the name cannot be
// written (a lookup error other than "no such file", a name that changed
// while looked at).
int ReplaceInspect(uint32_t options, const char* name, ReplacedFile* replaced, ReplaceFacts* facts);
// Bytes at the start of `target` that name its folder, the separator included.
int ReplaceFolderLength(const char* target);
unsigned ReplaceProcessId();
unsigned ReplaceTicks();
// Creates `replaced->temporary` exclusively, for the owner alone when
// `ownerOnly`, and opens `replaced->file` on it. kRefused: the folder takes
// no new file (not possible here).
Created ReplaceCreate(ReplacedFile* replaced, bool ownerOnly);
// Gives the temporary file what the file it replaces has.
Sameness ReplaceTakeOver(ReplacedFile* replaced);
std::FILE* ReplaceOpenDevice(const ReplacedFile* replaced);
// Opens the existing regular file, locked against other writers, emptied.
std::FILE* ReplaceOpenInPlace(const ReplacedFile* replaced);
// Makes what was written to a regular file durable: 0 or -1.
int ReplaceSync(std::FILE* file);
// Renames the closed temporary file over the target: 0 or -1.
int ReplaceCommit(ReplacedFile* replaced);
// Removes the temporary file; safe in a signal handler.
void ReplaceRemoveTemporary(const ReplacedFile* replaced);
// For a handler that ends the program: no temporary file is created after
// it returns, and one being created is waited for (on Windows the handler
// runs beside the writer; a signal handler interrupts it).
void ReplaceStopCreating();
// Lets go of what ReplaceInspect holds.
void ReplaceRelease(ReplacedFile* replaced);
