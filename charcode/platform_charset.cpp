#include "charcode/charcode.h"
#include "charcode/codepage.h"

namespace {
int platformCode = kPlatformCharCode;
}

int PlatformCharCode() {
    return platformCode;
}

void SetPlatformCharCode(int code) {
    platformCode = code;
}
