// Raster image library: the Image record, region operations and image files.
//
// An Image is 8-bit grey (1 channel) or 24-bit colour (3 channels). Its header
// is a BMP information header and colour table, and its pixel store is BMP
// pixel data: rows bottom-up (row 0 is the bottom line), each padded to a
// multiple of 4 bytes, colour pixels as blue, green, red. The store lives in
// memory right after the record, or in a spill file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// ---- The record ----------------------------------------------------------

#pragma pack(push, 1)
struct BmpInfoHeader {  // BITMAPINFOHEADER as laid out on disk, in host byte order
    uint32_t size;
    int32_t width;
    int32_t height;
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t sizeImage;
    int32_t xPelsPerMetre;
    int32_t yPelsPerMetre;
    uint32_t coloursUsed;
    uint32_t coloursImportant;
};
struct RgbQuad {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    uint8_t reserved;
};
#pragma pack(pop)
static_assert(sizeof(BmpInfoHeader) == 40);
static_assert(sizeof(RgbQuad) == 4);

constexpr int kSpillPathSize = 272;

struct Image {
    BmpInfoHeader info;
    RgbQuad palette[256];  // follows info directly, as in a file
    uint32_t createFlags;
    std::FILE* spillFile;  // file-backed Images only
    char spillPath[kSpillPathSize];
    // Fields of the QR encoder.
    uint32_t flags;
    int32_t cellSize;
    int32_t maskPattern;
    int32_t moduleCount;
    uint8_t* modules;
    uint8_t* moduleKinds;
    uint8_t darkColour[3];
    uint8_t lightColour[3];
    uint8_t* pixels;  // in-memory store, right after the record; nullptr when file-backed
};
static_assert(offsetof(Image, palette) == sizeof(BmpInfoHeader));

// Create flags.
constexpr uint32_t IMAGE_FILL_WHITE = 0x0001;
constexpr uint32_t IMAGE_NO_FILL = 0x1000;
constexpr uint32_t IMAGE_FILE_BACKED = 0x2000;
// Region and access flags.
constexpr uint32_t IMAGE_FILL_OUTSIDE = 0x0001;
constexpr uint32_t IMAGE_CONSUME_SOURCE = 0x4000;
constexpr uint32_t IMAGE_FROM_TOP = 0x8000;

// ---- Record and pixel access --------------------------------------------

// A new Image, or nullptr for a non-positive size, a size whose row stride or
// image size does not fit a signed 32-bit integer, no memory, or a spill file
// that cannot be made and filled. Channels other than 1 or 3 become 3.
Image* ImageCreate(uint32_t createFlags, int width, int height, int channels, int xPelsPerMetre,
                   int yPelsPerMetre, const char* spillPath);
void ImageFree(Image* image);
// Closes and removes the spill file, then zeroes the record.
void ImageReset(Image* image);

// Byte offset of pixel (x, y), both clamped into the Image; with
// IMAGE_FROM_TOP y counts from the top line.
int ImagePixelOffset(uint32_t accessFlags, const Image* image, int x, int y);
// Clamps the origin into the Image and cuts width and height at its edges (a
// width or height <= 0 reaches to the edge). Returns bytes per pixel.
int ImageClipRect(const Image* image, int* x, int* y, int* width, int* height);

// Byte access to the pixel store; 0, or -1 when the spill file fails us.
int ImageReadBytes(const Image* image, int offset, int unitSize, int count, void* destination);
int ImageWriteBytes(Image* image, int offset, int unitSize, int count, const void* source);
int ImageCopyBytes(Image* destination, int destinationOffset, const Image* source, int sourceOffset,
                   int unitSize, int count);

void ImageSetCellSize(uint32_t options, Image* image, int cellSize);
void ImageSetMaskPattern(uint32_t options, Image* image, int maskPattern);

// The largest block of wanted, wanted/2, wanted/4, ... bytes, not below
// minimum; its size goes to *obtained. nullptr when none can be had.
void* AllocShrinking(std::size_t wanted, std::size_t minimum, std::size_t* obtained);

// ---- Region operations ---------------------------------------------------

// Every rectangle is clipped to its Image first (ImageClipRect), and every row
// index honours IMAGE_FROM_TOP in the options.

// A new Image holding the rectangle of the source (same channels and
// resolution, fresh encoder fields), file-backed with IMAGE_FILE_BACKED.
// With IMAGE_CONSUME_SOURCE the source is released, but only on success; an
// in-memory source (and no IMAGE_FILE_BACKED) is turned into the result in
// place, its store cut down to the rectangle (the record may move), and that
// crop cannot fail.
// nullptr when the new Image or its row buffer cannot be had or a spill file
// fails; the source is then untouched.
Image* ImageCrop(uint32_t options, Image* source, const char* spillPath, int x, int y, int width,
                 int height);
// Copies the source rectangle (sx, sy, sw, sh) to (dx, dy), cut at the
// destination's edges. Bytes are copied as they are, so both Images must have
// the same channel count: -1 (nothing copied) when they differ. -2 when a row
// could not be copied (spill file failure, or no staging buffer between two
// spill files); the other rows are still copied. 0 otherwise.
int ImagePaste(uint32_t options, Image* destination, int dx, int dy, const Image* source, int sx,
               int sy, int sw, int sh);
// colour is red, green, blue (a grey Image takes the first byte). With
// IMAGE_FILL_OUTSIDE everything but the rectangle is filled. 0; -2 when the
// row buffer cannot be had (Image unchanged); -3 when a spill file fails.
int ImageFillRect(uint32_t options, Image* image, int x, int y, int width, int height,
                  const uint8_t colour[3]);

// ---- Image files ---------------------------------------------------------
// Both writers replace a file whole or not at all: they write a new file
// beside the name and rename it over the name once it is complete (synced
// first when it replaces a file), so a failure leaves what was there
// untouched and removes the new file. A name that is a symbolic link is
// written through to the link's target (beside which the new file is made),
// unless the options hold IMAGE_NO_FOLLOW: then whatever is at the name (a
// link, a FIFO, a device) is replaced, never opened for writing. A new file
// gets mode 0666 less the umask; a replaced one keeps its owner, group,
// permission bits and attributes. A device or FIFO reached through the
// name's links is written in place. Neither writer prints anything.

constexpr uint32_t IMAGE_NO_FOLLOW = 0x00010000;
// The file name is UTF-8 (names are taken in the ANSI code page on Windows
// otherwise; elsewhere a name is its bytes, with or without this).
constexpr uint32_t IMAGE_UTF8_NAME = 0x00020000;

// Removes the new file of a write in progress, if there is one: for a
// single-threaded program's handler of a signal that ends it (safe to call
// there). The file that would have been replaced stays as it was.
void ImageRemoveUnfinishedFile();

// ---- BMP files -----------------------------------------------------------

// The stage at which ImageWriteBmp failed (-3 to -5 are not used).
constexpr int IMAGE_BMP_ERR_OPEN = -1;         // the file cannot be opened
constexpr int IMAGE_BMP_ERR_FILE_HEADER = -2;  // the 14-byte file header
constexpr int IMAGE_BMP_ERR_INFO_HEADER = -6;  // the information header and colour table
constexpr int IMAGE_BMP_ERR_PIXELS = -7;       // the pixels of an Image in memory
constexpr int IMAGE_BMP_ERR_COPY_BUFFER = -8;  // no buffer to copy the spill file through
constexpr int IMAGE_BMP_ERR_SPILL_READ = -9;   // reading the spill file
constexpr int IMAGE_BMP_ERR_COPY_WRITE = -10;  // writing the pixels copied from it

// Stores the Image as an uncompressed BMP file: 14-byte file header, the
// information header and colour table as the record holds them, the pixel
// store. Options: IMAGE_NO_FOLLOW, IMAGE_UTF8_NAME. 0, or the stage that failed
// (IMAGE_BMP_ERR_*). A short write counts as a failure; a failing close or
// rename counts against the pixels (IMAGE_BMP_ERR_PIXELS, or
// IMAGE_BMP_ERR_COPY_WRITE for a file-backed Image).
int ImageWriteBmp(uint32_t options, const char* fileName, const Image* image);
// Loads an uncompressed bottom-up BMP file of 8 or 24 bits per pixel, with a
// 40-byte information header or a later, longer version of it (whose extra
// fields are skipped). Anything else is refused (nullptr): other depths,
// compression, top-down rows, a size <= 0 or beyond what ImageCreate takes,
// more than 256 colours, pixel data that overlaps the headers or is cut short.
// The Image's header always reads size 40, planes 1 and the image size of its
// geometry. An 8-bit file's colour table fills the first colours-used entries
// of `palette`, the rest stay zero; pixel indices are kept as they are, even
// those past the file's table. createFlags is stored in the Image as given;
// with IMAGE_FILE_BACKED the pixels go to a spill file at spillPath.
Image* ImageReadBmp(uint32_t createFlags, const char* fileName, const char* spillPath);

// ---- PNG files -----------------------------------------------------------

// The stage at which ImageWritePng failed.
constexpr int IMAGE_PNG_ERR_OPEN = -1;             // the file cannot be opened
constexpr int IMAGE_PNG_ERR_WRITE_STRUCT = -2;     // libpng's write structure
constexpr int IMAGE_PNG_ERR_INFO_STRUCT = -3;      // libpng's info structure
constexpr int IMAGE_PNG_ERR_ERROR_RETURN = -4;     // setting the error return point
constexpr int IMAGE_PNG_ERR_WRITE_FUNCTIONS = -5;  // setting the write functions
constexpr int IMAGE_PNG_ERR_COMPRESSION = -6;      // setting the compression level
// The header: libpng refuses the size, or the Image is neither 8 nor 24 bits
// per pixel (then no file is made).
constexpr int IMAGE_PNG_ERR_HEADER = -7;
constexpr int IMAGE_PNG_ERR_SIGNATURE = -8;     // writing the signature and header
constexpr int IMAGE_PNG_ERR_ROW_BUFFER = -9;    // no row buffer
constexpr int IMAGE_PNG_ERR_LINE_BUFFER = -10;  // no line buffer
constexpr int IMAGE_PNG_ERR_ROWS = -11;         // the rows and the end of the file

// Stores the Image as a PNG file of bit depth 8, grey for 1 byte per pixel
// (its colour table is not consulted), RGB for 3; not interlaced; no
// ancillary chunks. Options: IMAGE_NO_FOLLOW, IMAGE_UTF8_NAME. 0, or the stage that failed
// (IMAGE_PNG_ERR_*). Every short write, failing flush or failing close is a
// failure of its stage (a failing close or rename: IMAGE_PNG_ERR_ROWS).
// libpng's messages are not printed.
int ImageWritePng(uint32_t options, const char* fileName, const Image* image);
// Loads a PNG file of bit depth 1 to 8 (samples below 8 bits are expanded:
// grey levels scaled up, palette indices unchanged), interlaced or not. Grey
// and grey with alpha give 1 channel; RGB, RGB with alpha and palette give 3.
// Flags: IMAGE_PNG_ALPHA_RULE picks which pixels of a file with alpha become
// the background (white, or black with IMAGE_PNG_BLACK_BACKGROUND); alpha is
// never blended. A palette index past the palette gives black. With
// IMAGE_FILE_BACKED the pixels go to a spill file at spillPath. nullptr for
// a missing signature, 16-bit samples, more than 100,000,000 pixels or a
// side beyond 1,000,000, a short or damaged file, or no memory.
Image* ImageReadPng(uint32_t flags, const char* fileName, const char* spillPath);
// File conversions, loading with flags 0 and writing with options 0. 0, or
// one of the two codes below. An 8-bit BMP whose colour table is not the full
// grey ramp is stored as an RGB PNG of its table's colours.
constexpr int IMAGE_CONVERT_ERR_READ = -2;   // the input cannot be loaded
constexpr int IMAGE_CONVERT_ERR_WRITE = -3;  // the output cannot be written
int ImageConvertPngToBmp(uint32_t options, const char* pngFileName, const char* bmpFileName);
int ImageConvertBmpToPng(uint32_t options, const char* bmpFileName, const char* pngFileName);

// ---- PNG reader flags ----------------------------------------------------

// Which pixels of a file with alpha become the background.
constexpr uint32_t IMAGE_PNG_ALPHA_RULE = 0x0003;
constexpr uint32_t IMAGE_PNG_ALPHA_IGNORED = 0;     // none: alpha is dropped
constexpr uint32_t IMAGE_PNG_ALPHA_ZERO = 1;        // alpha 0
constexpr uint32_t IMAGE_PNG_ALPHA_BELOW_HALF = 2;  // alpha below 128
constexpr uint32_t IMAGE_PNG_ALPHA_BELOW_FULL = 3;  // alpha below 255
// The background is black (0) instead of white (255).
constexpr uint32_t IMAGE_PNG_BLACK_BACKGROUND = 0x0010;

// ---- Colour models -------------------------------------------------------

// In-place conversions of a rectangle of a 3-channel Image. The rectangle is
// clipped with ImageClipRect; rows count from stored row 0 (the options word
// is not looked at, so IMAGE_FROM_TOP has no effect). Byte layouts:
//   RGB    b0 blue, b1 green, b2 red
//   HSV    b0 hue 0..239 (red 0, yellow 40, green 80, cyan 120, blue 160,
//          magenta 200), b1 saturation, b2 value
//   YCbCr  b0 Y (16..235), b1 Cb, b2 Cr (16..240)
// A hue is rounded to the nearest step on either side of its sixth's base,
// so that yellow, cyan and magenta come out at exactly 40, 120 and 200.
// Each returns 0; -1 (nothing changed) when the Image does not have 3 bytes
// per pixel; -2 (nothing changed) when a row segment is longer than 1,024
// bytes and its buffer cannot be had; -6 when a spill file read or write
// fails (the rows before it are converted).
int ImageRgbToHsv(uint32_t options, Image* image, int x, int y, int width, int height);
int ImageHsvToRgb(uint32_t options, Image* image, int x, int y, int width, int height);
// Each byte alike, linear light to the BT.709 transfer curve and back.
int ImageGammaEncode(uint32_t options, Image* image, int x, int y, int width, int height);
int ImageGammaDecode(uint32_t options, Image* image, int x, int y, int width, int height);
// BT.601 YCbCr with the 16..235 and 16..240 ranges, and back.
int ImageRgbToYCbCr(uint32_t options, Image* image, int x, int y, int width, int height);
int ImageYCbCrToRgb(uint32_t options, Image* image, int x, int y, int width, int height);

// The same HSV conversions over `count` 3-byte pixels in a buffer.
void HsvFromRgbPixels(uint8_t* pixels, int count);
void RgbFromHsvPixels(uint8_t* pixels, int count);

// Writes one line per pixel of the rectangle to `stream` (stdout when null):
//   "D[%4d][%4d] = %3d (%02x)"                      1 byte per pixel
//   "D[%4d][%4d] = %3d,%3d,%3d (%02x,%02x,%02x)"    3 bytes per pixel
// with column and row first. The rectangle is clipped like ImageClipRect
// (an origin left of or below the Image is moved onto its edge), and rows
// count from the top with IMAGE_FROM_TOP. Returns the row one past the last
// row dumped: y + height after clipping, or the row at which a read or a
// write to the stream failed.
int ImageDump(uint32_t flags, const Image* image, std::FILE* stream, int x, int y, int width,
              int height);

// ---- Geometry ------------------------------------------------------------

// These make a new Image from the source and return it, or nullptr. The new
// Image is file-backed under spillPath with IMAGE_FILE_BACKED in the flags.
// With IMAGE_CONSUME_SOURCE the source is released, but only on success.
// nullptr (source untouched) when the new Image or a buffer cannot be had, a
// spill file fails, or spillPath would reuse the file-backed source's own
// spill file. Rows count from stored row 0.

// Same size, channels and resolution, every stored row copied (row padding
// included); the palette is a fresh grey ramp. Never consumes the source.
Image* ImageDuplicate(uint32_t flags, const Image* source, const char* spillPath);
// Width × xPercent / 100 by height × yPercent / 100 (truncated), resolution
// scaled alike. nullptr when a side comes out at 0 or less, or the Image
// would not fit 32 bits. Nearest neighbour; with flag 0x1 smooth: source rows
// and columns that fall on one target pixel are averaged, target rows and
// columns skipped between reached ones are interpolated, and the columns and
// rows beyond the last reached ones stay white.
Image* ImageScale(uint32_t flags, Image* source, const char* spillPath, int xPercent, int yPercent);
// A 1-channel Image of a 3-channel source: flags & 3 is 0 for the mean of
// the three bytes, 1 for 0.11 blue + 0.59 green + 0.30 red. nullptr for any
// other mode or a source of another kind.
Image* ImageToGrey(uint32_t flags, Image* source, const char* spillPath);
// angle 0, 90 (a quarter turn counter-clockwise), 180 or 270 (clockwise);
// 90 and 270 swap width and height and the two resolutions. nullptr for any
// other angle.
Image* ImageRotate(uint32_t flags, Image* source, const char* spillPath, int angle);
// mode 0 turns the picture upside down, mode 1 mirrors it left to right;
// nullptr for any other mode.
Image* ImageMirror(uint32_t flags, Image* source, const char* spillPath, int mode);

// ---- Tone ----------------------------------------------------------------

// In-place operations on a rectangle, clipped with ImageClipRect; rows count
// from the top with IMAGE_FROM_TOP. The mode is flags & 3. Level 50 leaves
// every pixel as it is in every mode. Codes: 0; -1 wrong channel count; -2 no
// line buffer; -3 mode not offered; -4/-5 level outside 0..100 (as listed at
// each); -6 a spill file read or write failed (rows before it are changed).
// Every refusal but -6 leaves the Image unchanged.
//
// The operations that work on hue, saturation and value convert each row
// to HSV, adjust it and convert it back in one go, so they change exactly the
// rows of their rectangle (IMAGE_FROM_TOP included) and need no buffer beyond
// their own line buffer. A pixel whose HSV bytes the adjustment leaves as
// they are keeps its RGB bytes exactly (no round-trip loss).

// Entry of a tone table: the first entry whose limit is greater than a byte
// gives its new value (a negative value gives 255, any other its low 8
// bits); no such entry gives 255.
struct ToneEntry {
    int32_t limit;
    int32_t value;
};
// b0 through the blue table, b1 the green, b2 the red. A green or blue count
// of 0 takes the red count and a null green or blue table the red table; a
// negative count or a null table means no entries.
int ImageMapLevels(uint32_t flags, Image* image, int x, int y, int width, int height, int redCount,
                   int greenCount, int blueCount, const ToneEntry* redTable,
                   const ToneEntry* greenTable, const ToneEntry* blueTable);
// Grey level of one blue, green, red pixel: mode 0 the rounded mean, 1 the
// rounded 0.11 blue + 0.59 green + 0.30 red.
uint8_t GreyLevel(int mode, const uint8_t* pixel);
// Grey in all three bytes, modes as ImageToGrey; -1 unless 3 channels, -3
// for modes 2 and 3.
int ImageMakeGrey(uint32_t flags, Image* image, int x, int y, int width, int height);
// Every byte complemented.
int ImageInvert(uint32_t flags, Image* image, int x, int y, int width, int height);
// Per channel level (b2 red, b1 green, b0 blue; a grey byte takes blue):
// mode 0 shifts by (L - 50) / 50 × 255, mode 1 scales toward 0 below 50 and
// toward 255 above. -3 for modes 2 and 3, -4 for a level outside 0..100.
int ImageAdjustChannels(uint32_t flags, Image* image, int x, int y, int width, int height, int red,
                        int green, int blue);
// Brightness: mode 0 shift, 1 scale, 2 two straight pieces, 3 power curve.
// Modes 1 and 3 change only the value of a colour pixel. -5 for a level
// outside 0..100.
int ImageAdjustTone(uint32_t flags, Image* image, int x, int y, int width, int height, int level);
// Contrast about 128: level 0 makes every byte 128, 100 thresholds at 128.
// Mode 0 linear, 2 three straight pieces, 1 and 3 power curves. -4 for a
// level outside 0..100.
int ImageAdjustContrast(uint32_t flags, Image* image, int x, int y, int width, int height,
                        int level);
// Value and saturation of colour pixels, mode 0 shift, mode 1 scale; modes 2
// and 3 change nothing. -1 unless 3 channels (a grey Image has no saturation
// to adjust), -4 for the value level, -5 for the saturation level outside
// 0..100. `unused` is not looked at.
int ImageAdjustValueSaturation(uint32_t flags, Image* image, int x, int y, int width, int height,
                               int unused, int valueLevel, int saturationLevel);

// ---- Drawing -------------------------------------------------------------

// Draws a line of `thickness` pixels between the two end points, both first
// clamped into the Image; y counts from the top with IMAGE_FROM_TOP. colour
// holds bytes-per-pixel bytes in red, green, blue order; with flag 0x1 the
// covered pixels are complemented instead and colour may be null. A slanted
// line covers the rectangle centred on the segment, ending square at the end
// points. Thickness 0 draws a one-pixel line as 1 does, in every direction; a
// negative thickness draws nothing. Returns 0; -1 when a colour is needed
// and none is given; -6 when a spill file read or write fails.
int ImageDrawLine(uint32_t flags, Image* image, int x1, int y1, int x2, int y2, int thickness,
                  const uint8_t* colour);
