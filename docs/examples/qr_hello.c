/* Writes a QR Code with libZEMQRFile.
 * Build: cc qr_hello.c $(pkg-config --cflags --libs zemqrfile) -o qr_hello
 * Run:   ./qr_hello [OUTPUT [MESSAGE]]   (writes hello-c.png by default) */
#include <stdio.h>
#include <zemqrfile.h>

int main(int argc, char** argv) {
    /* Room for 4 more characters: a name without .png or .bmp gets ".png". */
    char fileName[256 + 4];
    const char* message = argc > 2 ? argv[2] : "Hello from C";
    snprintf(fileName, 256, "%s", argc > 1 ? argv[1] : "hello-c");

    int32_t result = ZEMQRFile(0,        /* flags: message given as text, quiet */
                               fileName, /* output name, extended in place */
                               0,        /* data mode: automatic */
                               0,        /* version: smallest that holds the message */
                               2,        /* error correction level: M */
                               0,        /* mask pattern: automatic */
                               4,        /* cell size: 4 x 4 pixels a module */
                               0,        /* character set: automatic (UTF-8 on Linux) */
                               0,        /* data length: the whole message */
                               message);
    if (result != ZEMQR_OK) {
        fprintf(stderr, "ZEMQRFile failed with result %d\n", (int)result);
        return 1;
    }
    printf("wrote %s\n", fileName);
    return 0;
}
