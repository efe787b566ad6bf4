// The temporary file's books, the same on every system: its name, its
// record for a signal's clean-up (made before the file exists), its removal
// on failure, the close and the rename; and the one rule that chooses how a
// write goes. The system's calls are in image/file_replace_<platform>.cpp.
#include "image/file_replace.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "image/file_replace_platform.h"
#include "image/image.h"

namespace {

constexpr int kNameTries = 64;
constexpr int kBaseShown = 32;  // bytes of the target's name, in the temporary one

std::atomic<unsigned> temporarySerial{0};
// The write whose temporary file a signal that ends the program removes.
std::atomic<const ReplacedFile*> temporaryInProgress{nullptr};

// Forgets the temporary file once it is renamed or removed, unless another
// write has taken its place meanwhile.
void ForgetTemporary(const ReplacedFile* replaced) {
    const ReplacedFile* ours = replaced;
    temporaryInProgress.compare_exchange_strong(ours, nullptr);
}

void DiscardTemporary(ReplacedFile* replaced) {
    ReplaceRemoveTemporary(replaced);
    ForgetTemporary(replaced);
    replaced->temporary[0] = '\0';
}

// A fresh name beside the target: its folder, a dot, the start of the
// target's own name and a number that differs from call to call.
bool MakeTemporaryName(ReplacedFile* replaced) {
    const char* target = replaced->target;
    const int folder = ReplaceFolderLength(target);
    const unsigned serial = temporarySerial.fetch_add(1, std::memory_order_relaxed);
    const unsigned mixed = ReplaceTicks() ^ (serial * 0x9E3779B9u);
    const int length = std::snprintf(replaced->temporary, kReplacedNameMax, "%.*s.%.*s.%u.%08x.tmp",
                                     folder, target, NameStartLength(target + folder, kBaseShown),
                                     target + folder, ReplaceProcessId(), mixed);
    return length > 0 && length < kReplacedNameMax;
}

Created CreateTemporary(ReplacedFile* replaced, bool ownerOnly) {
    for (int attempt = 0; attempt < kNameTries; ++attempt) {
        if (!MakeTemporaryName(replaced)) {
            return Created::kFailed;
        }
        // Recorded before it exists: a signal that comes as the file is made
        // still finds it.
        temporaryInProgress.store(replaced);
        const Created created = ReplaceCreate(replaced, ownerOnly);
        if (created == Created::kCreated) {
            return created;
        }
        ForgetTemporary(replaced);
        replaced->temporary[0] = '\0';
        if (created != Created::kNameTaken) {
            return created;
        }
    }
    return Created::kFailed;
}

}  // namespace

ReplaceWay ChooseReplaceWay(const ReplaceFacts& facts) {
    switch (facts.kind) {
        case ReplacedKind::kNone:
            return facts.sameness == Sameness::kUnknown || facts.sameness == Sameness::kSame
                       ? ReplaceWay::kReplace
                       : ReplaceWay::kRefuse;
        case ReplacedKind::kFolder:
            return ReplaceWay::kRefuse;
        case ReplacedKind::kOther:
            // A device or FIFO is written as it is, unless the name itself is
            // to be replaced: then nothing is ever written into it.
            return facts.followLinks ? ReplaceWay::kDevice : ReplaceWay::kReplace;
        case ReplacedKind::kRegular:
            break;
    }
    if (!facts.writable || facts.sameness == Sameness::kFailed) {
        return ReplaceWay::kRefuse;  // a file we may not write stays as it is
    }
    if (facts.sameness != Sameness::kNotPossible) {
        return ReplaceWay::kReplace;
    }
    // The name itself, never a file it leads to, may become a file of ours.
    if (!facts.followLinks) {
        return ReplaceWay::kReplace;
    }
    // Written in place, a file with other names would change under them
    // too; replaced, it would not be the same file: neither.
    return facts.oneName ? ReplaceWay::kInPlace : ReplaceWay::kRefuse;
}

int ReplacedFileOpen(uint32_t options, const char* name, ReplacedFile* replaced) {
    replaced->file = nullptr;
    replaced->writtenAsIs = false;
    replaced->durable = false;
    replaced->folder = -1;
    replaced->existing = -1;
    replaced->target[0] = '\0';
    replaced->temporary[0] = '\0';
    ReplaceFacts facts{};
    if (name[0] == '\0' || ReplaceInspect(options, name, replaced, &facts) != 0) {
        ReplaceRelease(replaced);
        return -1;
    }
    ReplaceWay way = ChooseReplaceWay(facts);
    if (way == ReplaceWay::kReplace) {
        // A file that replaces another is private until it is the old one
        // again, and reaches the disk before it takes the name.
        const bool replacing = facts.kind == ReplacedKind::kRegular;
        replaced->durable = replacing;
        const Created created = CreateTemporary(replaced, replacing);
        if (created == Created::kCreated && replacing) {
            facts.sameness = ReplaceTakeOver(replaced);
        } else if (created != Created::kCreated) {
            facts.sameness =
                created == Created::kRefused ? Sameness::kNotPossible : Sameness::kFailed;
        }
        way = ChooseReplaceWay(facts);
        if (way != ReplaceWay::kReplace && created == Created::kCreated) {
            std::fclose(replaced->file);
            replaced->file = nullptr;
            DiscardTemporary(replaced);
        }
    }
    if (way == ReplaceWay::kDevice) {
        replaced->writtenAsIs = true;
        replaced->file = ReplaceOpenDevice(replaced);
    } else if (way == ReplaceWay::kInPlace) {
        replaced->writtenAsIs = true;
        replaced->durable = true;
        replaced->file = ReplaceOpenInPlace(replaced);
    }
    if (replaced->file == nullptr) {
        ReplaceRelease(replaced);
        return -1;
    }
    return 0;
}

int ReplacedFileClose(ReplacedFile* replaced, bool keep) {
    bool ok = keep && std::fflush(replaced->file) == 0 &&
              (!replaced->durable || ReplaceSync(replaced->file) == 0);
    ok = std::fclose(replaced->file) == 0 && ok;
    replaced->file = nullptr;
    if (!replaced->writtenAsIs) {
        ok = ok && ReplaceCommit(replaced) == 0;
        if (!ok) {
            ReplaceRemoveTemporary(replaced);
        }
        ForgetTemporary(replaced);
    }
    ReplaceRelease(replaced);
    return ok ? 0 : -1;
}

void ImageRemoveUnfinishedFile() {
    ReplaceStopCreating();
    if (const ReplacedFile* replaced = temporaryInProgress.exchange(nullptr)) {
        ReplaceRemoveTemporary(replaced);
    }
}
