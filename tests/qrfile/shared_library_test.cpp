// The shared library loaded as a host program would load it: both exports
// give the same result and the same file as the console program.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "include/zemqrfile.h"
#include "tests/support/e2e_support.h"
#include "tests/support/test_support.h"

namespace {

using Export = decltype(&ZEMQRFile);

struct Library {
    Library() : handle(dlopen(ZEM_QRFILE_LIB_PATH, RTLD_NOW | RTLD_LOCAL)) {}
    ~Library() {
        if (handle != nullptr) {
            dlclose(handle);
        }
    }
    Export Find(const char* name) const { return reinterpret_cast<Export>(dlsym(handle, name)); }
    void* handle;
};

TEST(SharedLibraryTest, BothExportsMatchTheConsoleProgram) {
    ScratchDir scratch;
    Library library;
    ASSERT_NE(library.handle, nullptr) << dlerror();
    const Export stdExport = library.Find("ZEMQRFile");
    const Export cExport = library.Find("ZEMQRFileC");
    ASSERT_NE(stdExport, nullptr);
    ASSERT_NE(cExport, nullptr);

    const char* message = "Shared \xE6\x97\xA5\xE6\x9C\xAC 42";
    char first[16] = "code";
    char second[16] = "codeC";
    EXPECT_EQ(stdExport(0, first, 0, 3, 3, 5, 2, 0, 0, message), 0);
    EXPECT_EQ(cExport(0, second, 0, 3, 3, 5, 2, 0, 0, message), 0);
    EXPECT_STREQ(first, "code.png");
    EXPECT_STREQ(second, "codeC.png");
    const ProgramRun run = RunProgram(
        ZEM_CLI_PATH, {"zemQRCode", "-q", "3", "-e", "3", "-p", "5", "-s", "2", "cli", message});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto bytes = ReadWholeFile("code.png");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(ReadWholeFile("codeC.png"), bytes);
    EXPECT_EQ(ReadWholeFile("cli.png"), bytes);
    EXPECT_EQ(DecodeQrFileWithZbar("code.png"), "Shared \x93\xFA\x96\x7B 42");

    char missing[16] = "m.bmp";
    EXPECT_EQ(stdExport(IMAGEFLAG_MESSAGE_FILE, missing, 0, 0, 1, 0, 1, 0, 0, "none.txt"),
              ZEMQR_ERR_FILE_OPEN);
    EXPECT_EQ(cExport(IMAGEFLAG_MESSAGE_FILE, missing, 0, 0, 1, 0, 1, 0, 0, "none.txt"),
              ZEMQR_ERR_FILE_OPEN);
}

}  // namespace
