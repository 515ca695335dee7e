// Image files through OpenImageIO, held as straight (unpremultiplied) float
// RGBA, and their exchange with the headless host's clip images.
#ifndef TINTBRIDGE_CLI_IMAGE_FILE_H
#define TINTBRIDGE_CLI_IMAGE_FILE_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "host/Image.h"

namespace tbcli {

enum class FileDepth { Uint8, Uint16, Half, Float };

// Pixels top row first, four floats a pixel. `hasAlpha` tells whether the
// file had an alpha channel (without one, alpha is 1).
struct Picture {
  int width = 0;
  int height = 0;
  bool hasAlpha = false;
  FileDepth depth = FileDepth::Float;  // of the file it was read from
  int bitsPerSample = 0;               // when the file packs fewer bits (10-bit DPX); else 0
  int orientation = 1;                 // EXIF orientation the file asks viewers to apply (1: none)
  // Where the pixels lie in the file's frame (the data window's corner) and
  // that frame (the display window); a width of 0 when the file has none.
  int x = 0;
  int y = 0;
  int fullX = 0;
  int fullY = 0;
  int fullWidth = 0;
  int fullHeight = 0;
  std::vector<float> rgba;

  float *pixel(int x, int y) { return rgba.data() + (static_cast<size_t>(y) * width + x) * 4; }
  const float *pixel(int x, int y) const { return rgba.data() + (static_cast<size_t>(y) * width + x) * 4; }
};

// The pixels of a picture wherever they are held, four floats a pixel, top
// row first: `rowStride` floats from one row to the one below it (negative
// for rows stored bottom-up, as clip images are).
struct PictureView {
  int width = 0;
  int height = 0;
  const float *top = nullptr;
  std::ptrdiff_t rowStride = 0;

  const float *pixel(int x, int y) const { return top + y * rowStride + static_cast<std::ptrdiff_t>(x) * 4; }
};

PictureView viewOf(const Picture &picture);
// A float RGBA clip image.
PictureView viewOf(const tbhost::Image &image);

// The most pixels a picture may have: each is held as four floats, in the
// file's picture and in the clip images.
constexpr size_t kMaxPixels = (size_t(1) << 30) / 4;

Picture makePicture(int width, int height, bool hasAlpha);
// Frees a picture's pixels, keeping what is known of its file.
void releasePixels(Picture &picture);

// "" when `path` is a file that can be opened for reading, else why not
// ("no such file", "not a file", "Too many levels of symbolic links", ...).
std::string inputProblem(const std::string &path);

// Reads any format OpenImageIO reads. One channel is grey, two are grey and
// alpha, three RGB, four or more RGBA.
bool readPicture(const std::string &path, Picture &picture, std::string &error);

// readPicture with the message for the user: "cannot read image '...': ...".
bool readInput(const std::string &path, Picture &picture, std::string &error);
// The width and height of a picture, from its header only; with the message
// for the user as readInput gives it.
bool readInputSize(const std::string &path, int &width, int &height, std::string &error);

// Writes in the format of `formatPath`'s extension into the file `path`
// (which may be a temporary name), at `depth` or the nearest the format
// holds. Alpha is written when the picture has it and the format can.
// `quality` (1 to 100) sets the compression of formats that have one, such as
// JPEG; 0 keeps the writer's default.
bool writePicture(const std::string &path, const std::string &formatPath, const Picture &picture, FileDepth depth,
                  std::string &error, int quality = 0);
// The same with the pixels held elsewhere; `info` tells the rest (alpha,
// bits per sample, orientation) and its own pixels are not used.
bool writePicture(const std::string &path, const std::string &formatPath, const Picture &info,
                  const PictureView &pixels, FileDepth depth, std::string &error, int quality = 0);

// The picture turned as its orientation asks, so that it shows upright.
Picture uprightPicture(const Picture &picture);

// True when OpenImageIO has a writer for the extension of `path`.
bool canWriteFormat(const std::string &path);

// Clip images: float RGBA with OFX's bottom-up rows (row 0 is the bottom of
// the picture).
std::shared_ptr<tbhost::Image> toHostImage(const Picture &picture);
// A matte: one float a pixel, top row first.
struct Matte {
  int width = 0;
  int height = 0;
  std::vector<float> values;
};

// The alpha channel when the file has one that is not opaque everywhere,
// else the first channel (a white-on-black matte).
Matte matteOf(const Picture &picture);
// The matte at width x height, scaled with OpenImageIO's resize.
Matte scaledMatte(const Matte &matte, int width, int height);
// A single-channel mask clip image.
std::shared_ptr<tbhost::Image> toHostMask(const Matte &matte);

}  // namespace tbcli

#endif
