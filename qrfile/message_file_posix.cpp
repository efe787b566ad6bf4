// A name is its bytes here, whatever characters they spell.
#include "qrfile/message_file.h"

std::FILE* OpenMessageFile(const char* name, bool /*utf8Name*/) {
    return std::fopen(name, "rb");
}
