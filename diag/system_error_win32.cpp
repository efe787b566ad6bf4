#include <windows.h>

#include <climits>

#include "diag/diag.h"

int LastSystemError() {
    // A DWORD: codes with the top bit set (HRESULT-style) would read negative.
    const DWORD error = GetLastError();
    return error > static_cast<DWORD>(INT_MAX) ? INT_MAX : static_cast<int>(error);
}
