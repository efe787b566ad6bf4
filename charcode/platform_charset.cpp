#include "charcode/charcode.h"

namespace {
int platformCode = CHARCODE_UTF8;
}

int PlatformCharCode() {
    return platformCode;
}

void SetPlatformCharCode(int code) {
    platformCode = code;
}
