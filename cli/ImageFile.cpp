#include "cli/ImageFile.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "cli/Platform.h"

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

namespace tbcli {

namespace {

OIIO::TypeDesc typeOf(FileDepth depth) {
  switch (depth) {
    case FileDepth::Uint8:
      return OIIO::TypeDesc::UINT8;
    case FileDepth::Uint16:
      return OIIO::TypeDesc::UINT16;
    case FileDepth::Half:
      return OIIO::TypeDesc::HALF;
    default:
      return OIIO::TypeDesc::FLOAT;
  }
}

FileDepth depthOf(OIIO::TypeDesc type) {
  if (type == OIIO::TypeDesc::UINT8 || type == OIIO::TypeDesc::INT8) return FileDepth::Uint8;
  if (type == OIIO::TypeDesc::UINT16 || type == OIIO::TypeDesc::INT16) return FileDepth::Uint16;
  if (type == OIIO::TypeDesc::HALF) return FileDepth::Half;
  return FileDepth::Float;
}

std::string lastOiioError(const std::string &fallback) {
  std::string text = OIIO::geterror();
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text.empty() ? fallback : text;
}

}  // namespace

PictureView viewOf(const Picture &picture) {
  return PictureView{picture.width, picture.height, picture.rgba.data(), static_cast<std::ptrdiff_t>(picture.width) * 4};
}

PictureView viewOf(const tbhost::Image &image) {
  const OfxRectI &b = image.bounds();
  if (image.width() <= 0 || image.height() <= 0) return PictureView{};
  return PictureView{image.width(), image.height(), reinterpret_cast<const float *>(image.pixelAddress(b.x1, b.y2 - 1)),
                     -static_cast<std::ptrdiff_t>(image.rowBytes() / static_cast<int>(sizeof(float)))};
}

Picture makePicture(int width, int height, bool hasAlpha) {
  Picture p;
  p.width = width;
  p.height = height;
  p.hasAlpha = hasAlpha;
  p.rgba.assign(static_cast<size_t>(width) * height * 4, 0.0f);
  for (size_t i = 3; i < p.rgba.size(); i += 4) p.rgba[i] = 1.0f;
  return p;
}

void releasePixels(Picture &picture) { std::vector<float>().swap(picture.rgba); }

std::string inputProblem(const std::string &path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return "no such file";
  if (ec) return ec.message();
  return status.type() == fs::file_type::regular ? std::string() : "not a file";
}

bool readPicture(const std::string &path, Picture &picture, std::string &error) {
  error = inputProblem(path);
  if (!error.empty()) return false;
  // Straight alpha stays straight: no premultiplication on the way in.
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto input = OIIO::ImageInput::open(path, &config);
  if (!input) {
    error = lastOiioError("not an image this program reads");
    return false;
  }
  const OIIO::ImageSpec &spec = input->spec();
  const int channels = spec.nchannels;
  if (spec.width <= 0 || spec.height <= 0 || channels <= 0 || spec.depth > 1) {
    error = "unsupported image layout";
    return false;
  }
  const size_t count = static_cast<size_t>(spec.width) * static_cast<size_t>(spec.height);
  if (count > kMaxPixels) {
    error = "image too large (" + std::to_string(spec.width) + " x " + std::to_string(spec.height) +
            " pixels; at most " + std::to_string(kMaxPixels) + ")";
    return false;
  }
  // Straight into the four floats a pixel it is held as.
  picture = makePicture(spec.width, spec.height, channels == 2 || channels >= 4);
  const int used = std::min(channels, 4);
  if (!input->read_image(0, 0, 0, used, OIIO::TypeDesc::FLOAT, picture.rgba.data(), 4 * sizeof(float))) {
    error = input->geterror();
    if (error.empty()) error = lastOiioError("read failed");
    return false;
  }
  input->close();
  picture.depth = depthOf(spec.format);
  const int bits = spec.get_int_attribute("oiio:BitsPerSample", 0);
  if (bits > 0 && bits != 8 && bits != 16 && bits != 32) picture.bitsPerSample = bits;
  const int orientation = spec.get_int_attribute("Orientation", 1);
  if (orientation >= 1 && orientation <= 8) picture.orientation = orientation;
  picture.x = spec.x;
  picture.y = spec.y;
  picture.fullX = spec.full_x;
  picture.fullY = spec.full_y;
  picture.fullWidth = spec.full_width;
  picture.fullHeight = spec.full_height;
  if (channels < 4) {
    for (float *p = picture.rgba.data(), *end = p + picture.rgba.size(); p != end; p += 4) {
      if (channels == 2) p[3] = p[1];
      if (channels < 3) p[1] = p[2] = p[0];
      if (channels != 2) p[3] = 1.0f;
    }
  }
  return true;
}

bool readInput(const std::string &path, Picture &picture, std::string &error) {
  if (readPicture(path, picture, error)) return true;
  error = "cannot read image '" + path + "': " + error;
  return false;
}

bool readInputSize(const std::string &path, int &width, int &height, std::string &error) {
  error = inputProblem(path);
  std::unique_ptr<OIIO::ImageInput> input;
  if (error.empty()) {
    input = OIIO::ImageInput::open(path);
    if (!input) error = lastOiioError("not an image this program reads");
  }
  if (error.empty()) {
    width = input->spec().width;
    height = input->spec().height;
    if (width <= 0 || height <= 0) error = "unsupported image layout";
  }
  if (error.empty()) return true;
  error = "cannot read image '" + path + "': " + error;
  return false;
}

Picture uprightPicture(const Picture &picture) {
  if (picture.orientation == 1 || picture.width <= 0 || picture.height <= 0) return picture;
  OIIO::ImageSpec spec(picture.width, picture.height, 4, OIIO::TypeDesc::FLOAT);
  spec.attribute("Orientation", picture.orientation);
  OIIO::ImageBuf source(spec, const_cast<float *>(picture.rgba.data()));
  const OIIO::ImageBuf turned = OIIO::ImageBufAlgo::reorient(source);
  const OIIO::ROI roi = turned.roi();
  Picture out = makePicture(roi.width(), roi.height(), picture.hasAlpha);
  out.depth = picture.depth;
  out.bitsPerSample = picture.bitsPerSample;
  if (!turned.get_pixels(roi, OIIO::TypeDesc::FLOAT, out.rgba.data())) return picture;
  return out;
}

bool canWriteFormat(const std::string &path) {
  auto output = OIIO::ImageOutput::create(path);
  OIIO::geterror();  // a failed lookup leaves a message behind
  return output != nullptr;
}

namespace {

// Runs the writer on `picture` into `name` (a file, or only a name when the
// writer has an I/O proxy).
bool encodePicture(OIIO::ImageOutput &output, const std::string &name, const OIIO::ImageSpec &spec,
                   const PictureView &picture, std::string &error) {
  auto failed = [&](const char *fallback) {
    error = output.geterror();
    if (error.empty()) error = lastOiioError(fallback);
    return false;
  };
  if (!output.open(name, spec)) return failed("cannot create the file");
  const OIIO::stride_t xstride = 4 * sizeof(float);
  const OIIO::stride_t ystride = picture.rowStride * static_cast<OIIO::stride_t>(sizeof(float));
  if (!output.write_image(OIIO::TypeDesc::FLOAT, picture.top, xstride, ystride)) {
    failed("cannot write the pixels");
    output.close();
    return false;
  }
  if (!output.close()) return failed("cannot finish the file");
  return true;
}

// A picture of its own with the pixels of `pixels` and the rest of `info`.
Picture copyOf(const PictureView &pixels, const Picture &info) {
  Picture out = makePicture(pixels.width, pixels.height, info.hasAlpha);
  out.depth = info.depth;
  out.bitsPerSample = info.bitsPerSample;
  out.orientation = info.orientation;
  for (int y = 0; y < pixels.height; ++y)
    std::memcpy(out.pixel(0, y), pixels.pixel(0, y), static_cast<size_t>(pixels.width) * 4 * sizeof(float));
  return out;
}

// A file written by a library that could not be checked as it wrote: read
// back row by row, so that a short write shows as a file that does not decode.
bool readsBackWhole(const std::string &path, int width, int height, std::string &error) {
  auto input = OIIO::ImageInput::open(path);
  bool ok = input && input->spec().width == width && input->spec().height == height;
  if (ok) {
    const OIIO::ImageSpec &spec = input->spec();
    if (spec.tile_width > 0) {
      std::vector<float> all(static_cast<size_t>(width) * height * static_cast<size_t>(spec.nchannels));
      ok = input->read_image(0, 0, 0, spec.nchannels, OIIO::TypeDesc::FLOAT, all.data());
    } else {
      std::vector<float> row(static_cast<size_t>(width) * static_cast<size_t>(spec.nchannels));
      for (int y = spec.y; ok && y < spec.y + height; ++y) ok = input->read_scanline(y, 0, OIIO::TypeDesc::FLOAT, row.data());
    }
  }
  OIIO::geterror();
  if (!ok) error = "the file was not written whole";
  return ok;
}

}  // namespace

bool writePicture(const std::string &path, const std::string &formatPath, const Picture &picture, FileDepth depth,
                  std::string &error, int quality) {
  return writePicture(path, formatPath, picture, viewOf(picture), depth, error, quality);
}

bool writePicture(const std::string &path, const std::string &formatPath, const Picture &info,
                  const PictureView &pixels, FileDepth depth, std::string &error, int quality) {
  // Declared before the writer, so that it outlives it.
  std::vector<unsigned char> bytes;
  OIIO::Filesystem::IOVecOutput memory(bytes);
  auto output = OIIO::ImageOutput::create(formatPath);
  if (!output) {
    error = lastOiioError("no writer for this file extension");
    return false;
  }
  // Pixels keep their stored layout with the orientation hint beside them;
  // a format that cannot carry the hint gets the picture turned upright, so
  // that it never shows turned.
  const bool keepsHint = output->supports("exif") || output->supports("arbitrary_metadata");
  Picture upright;
  if (info.orientation != 1 && !keepsHint) upright = uprightPicture(copyOf(pixels, info));
  const Picture &picture = upright.width > 0 ? upright : info;
  const PictureView view = upright.width > 0 ? viewOf(upright) : pixels;
  const bool alpha = picture.hasAlpha && output->supports("alpha");
  OIIO::ImageSpec spec(view.width, view.height, alpha ? 4 : 3, typeOf(depth));
  if (alpha) spec.alpha_channel = 3;
  // Straight alpha is written as it is, never premultiplied.
  spec.attribute("oiio:UnassociatedAlpha", 1);
  if (quality > 0) spec.attribute("CompressionQuality", quality);
  // Pixels are kept as stored, so the hint for viewers goes along with them.
  if (picture.orientation != 1) spec.attribute("Orientation", picture.orientation);
  if (picture.bitsPerSample > 0 && depth == FileDepth::Uint16) spec.attribute("oiio:BitsPerSample", picture.bitsPerSample);
  // The data and display windows go back where the format holds them.
  if (upright.width == 0 && output->supports("origin")) {
    spec.x = info.x;
    spec.y = info.y;
  }
  if (upright.width == 0 && info.fullWidth > 0 && info.fullHeight > 0 && output->supports("displaywindow")) {
    spec.full_x = info.fullX;
    spec.full_y = info.fullY;
    spec.full_width = info.fullWidth;
    spec.full_height = info.fullHeight;
  }

  // The file is encoded in memory and written here, where every write is
  // checked: no format's library sees the disk, so none can hide a short
  // write or end the process over one.
  if (output->supports("ioproxy") && output->set_ioproxy(&memory)) {
    if (!encodePicture(*output, formatPath, spec, view, error)) return false;
    return writeWholeFile(path, bytes.data(), bytes.size(), error);
  }
  // A writer that only takes a file name writes the temporary itself.
  if (!encodePicture(*output, path, spec, view, error)) {
    for (size_t at = error.find(path); at != std::string::npos; at = error.find(path, at + formatPath.size()))
      error.replace(at, path.size(), formatPath);
    return false;
  }
  return syncFile(path, error) && readsBackWhole(path, view.width, view.height, error);
}

std::shared_ptr<tbhost::Image> toHostImage(const Picture &picture) {
  auto image = tbhost::Image::rgbaFloat(picture.width, picture.height);
  const size_t rowLength = static_cast<size_t>(picture.width) * 4 * sizeof(float);
  for (int y = 0; y < picture.height; ++y)
    std::memcpy(image->pixelAddress(0, picture.height - 1 - y), picture.pixel(0, y), rowLength);
  return image;
}

Matte matteOf(const Picture &picture) {
  bool useAlpha = false;
  if (picture.hasAlpha)
    for (size_t i = 3; i < picture.rgba.size() && !useAlpha; i += 4) useAlpha = picture.rgba[i] < 1.0f;
  Matte matte;
  matte.width = picture.width;
  matte.height = picture.height;
  matte.values.resize(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height));
  for (size_t i = 0; i < matte.values.size(); ++i) matte.values[i] = picture.rgba[i * 4 + (useAlpha ? 3 : 0)];
  return matte;
}

Matte scaledMatte(const Matte &matte, int width, int height) {
  if (matte.width == width && matte.height == height) return matte;
  const OIIO::ImageSpec from(matte.width, matte.height, 1, OIIO::TypeDesc::FLOAT);
  const OIIO::ImageBuf source(from, const_cast<float *>(matte.values.data()));
  OIIO::ImageBuf scaled(OIIO::ImageSpec(width, height, 1, OIIO::TypeDesc::FLOAT));
  Matte out;
  out.width = width;
  out.height = height;
  out.values.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0.0f);
  // A box: enlarged, each pixel takes the value of the matte's pixel it lies
  // in, as the plug-in reads a matte of another size; reduced, the average
  // of those it covers. No ringing round the matte's edges.
  if (OIIO::ImageBufAlgo::resize(scaled, source, "box"))
    scaled.get_pixels(OIIO::ROI(0, width, 0, height, 0, 1, 0, 1), OIIO::TypeDesc::FLOAT, out.values.data());
  OIIO::geterror();
  return out;
}

std::shared_ptr<tbhost::Image> toHostMask(const Matte &matte) {
  auto image = tbhost::Image::create(tbhost::PixelDepth::Float, tbhost::Components::Alpha,
                                     OfxRectI{0, 0, matte.width, matte.height});
  for (int y = 0; y < matte.height; ++y)
    std::memcpy(image->pixelAddress(0, matte.height - 1 - y), matte.values.data() + static_cast<size_t>(y) * matte.width,
                static_cast<size_t>(matte.width) * sizeof(float));
  return image;
}

}  // namespace tbcli
