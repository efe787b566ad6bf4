#include <cerrno>
#include <climits>

#include "diag/diag.h"

int LastSystemError() {
    const int error = errno;
    if (error == INT_MIN) {
        return INT_MAX;
    }
    return error < 0 ? -error : error;
}
