// Fuzz target: the clip statistics and the two LUT builders, called directly.
// Images of 1x1 to 48x48 RGBA floats of any bits (NaN, infinities, denormals,
// huge values), padded or bottom-up rows, optional masks of 1, 3 or 4
// components and any size, grids of 2 to 17 points (and sizes that cannot be
// allocated), any smoothing, colour space and preserve code.
//
// Invariants: every table entry is finite and within [0, 1] once a builder
// marks the table valid (Same Frame clamps its samples, so its table too);
// and a sample that is not finite counts for nothing: the statistics and the
// Different Clips table of images with such pixels equal, bit for bit, those
// of the same images with the pixels made finite and masked out.
#include <cstring>
#include <string>

#include "fuzz/FuzzBasics.h"
#include "lut/ImageView.h"
#include "lut/MatchLut.h"
#include "match/ClipStats.h"
#include "match/LutBuilders.h"

using namespace fuzzsupport;

namespace {

// A float image and the view of it that the builders get. Rows may be padded
// and may run bottom-up (negative row bytes); the storage is exactly the
// rows, so that a read outside them is caught.
struct TestImage {
  std::vector<float> storage;
  MaskView view{};
  int rowFloats = 0;
  bool bottomUp = false;

  float *pixel(int x, int y) {
    const int row = bottomUp ? view.height - 1 - y : y;
    return storage.data() + static_cast<size_t>(row) * rowFloats + static_cast<size_t>(x) * view.componentCount;
  }
};

void layOut(TestImage &image, int width, int height, int components, FuzzedDataProvider &fdp) {
  image.rowFloats = (width > 0 ? width : 0) * components + fdp.ConsumeIntegralInRange<int>(0, 3);
  image.bottomUp = fdp.ConsumeBool();
  const int rows = height > 0 ? height : 0;
  // Padding holds NaN: a builder that read it would see non-finite values.
  image.storage.assign(static_cast<size_t>(rows) * image.rowFloats, std::numeric_limits<float>::quiet_NaN());
  const int rowBytes = image.rowFloats * 4;
  float *origin = image.storage.empty() ? nullptr : image.storage.data();
  if (origin != nullptr && image.bottomUp) origin += static_cast<size_t>(rows - 1) * image.rowFloats;
  static_cast<ImageView &>(image.view) =
      ImageView{origin, width, height, image.bottomUp ? -rowBytes : rowBytes, components};
}

float channelFromFuzz(FuzzedDataProvider &fdp) {
  return fdp.ConsumeBool() ? fdp.ConsumeProbability<float>() : specialFloat(fdp);
}

// An RGBA image: every channel drawn, or colours from a small palette, or one
// colour with a few awkward pixels placed anywhere.
TestImage imageFromFuzz(FuzzedDataProvider &fdp) {
  TestImage image;
  const int width = fdp.ConsumeIntegralInRange<int>(1, 48);
  const int height = fdp.ConsumeIntegralInRange<int>(1, 48);
  layOut(image, width, height, 4, fdp);
  float palette[6][4];
  for (auto &colour : palette)
    for (float &c : colour) c = channelFromFuzz(fdp);
  const int mode = fdp.ConsumeIntegralInRange<int>(0, 2);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      float *p = image.pixel(x, y);
      for (int c = 0; c < 4; ++c) {
        if (mode == 0) {
          p[c] = channelFromFuzz(fdp);
        } else {
          p[c] = palette[mode == 1 ? fdp.ConsumeIntegralInRange<int>(0, 5) : 0][c];
        }
      }
    }
  }
  if (mode == 2) {
    const int placed = fdp.ConsumeIntegralInRange<int>(0, 8);
    for (int i = 0; i < placed; ++i) {
      const int x = fdp.ConsumeIntegralInRange<int>(0, width - 1);
      float *p = image.pixel(x, fdp.ConsumeIntegralInRange<int>(0, height - 1));
      for (int c = 0; c < 4; ++c) p[c] = palette[1 + fdp.ConsumeIntegralInRange<int>(0, 4)][c];
    }
  }
  return image;
}

// A mask of 1, 3 or 4 components and any size (empty and negative too), or
// one without pixels.
TestImage maskFromFuzz(FuzzedDataProvider &fdp) {
  TestImage mask;
  static const int kComponents[3] = {1, 3, 4};
  const int components = kComponents[fdp.ConsumeIntegralInRange<int>(0, 2)];
  const int width = fdp.ConsumeIntegralInRange<int>(-1, 48);
  const int height = fdp.ConsumeIntegralInRange<int>(-1, 48);
  layOut(mask, width, height, components, fdp);
  const bool uniform = fdp.ConsumeBool();
  const float first = channelFromFuzz(fdp);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < components; ++c) mask.pixel(x, y)[c] = uniform ? first : channelFromFuzz(fdp);
  if (fdp.ConsumeIntegralInRange<int>(0, 15) == 0) mask.view.pixels = nullptr;
  return mask;
}

// The mask value that the statistics weigh the sample at pixel (x, y) of the
// image by: the mask's pixel at the same place, its alpha for four components
// and its first component otherwise; no mask weighs 1, a pixel outside it 0.
float maskValueAt(const MaskView *mask, int64_t x, int64_t y) {
  if (mask == nullptr || mask->pixels == nullptr) return 1.0f;
  const int64_t mx = x - mask->originX;
  const int64_t my = y - mask->originY;
  if (mx < 0 || mx >= mask->width || my < 0 || my >= mask->height) return 0.0f;
  const float *p = pixelAt(*mask, mx, my);
  return mask->componentCount == 4 ? p[3] : p[0];
}

// `image` with every pixel whose colour is not finite given the finite
// colour `fill`, and in `mask` (one component, the image's size) the weights
// of `original` with those pixels weighted 0.
TestImage leftOut(const TestImage &image, const MaskView *original, const float fill[3], TestImage &mask,
                  FuzzedDataProvider &fdp) {
  TestImage out = image;
  const int width = image.view.width, height = image.view.height;
  out.view.pixels = out.storage.data() + (image.view.pixels - image.storage.data());
  layOut(mask, width, height, 1, fdp);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      float *p = out.pixel(x, y);
      const bool finite = std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
      mask.pixel(x, y)[0] = finite ? maskValueAt(original, x, y) : 0.0f;
      if (!finite)
        for (int c = 0; c < 3; ++c) p[c] = fill[c];
    }
  }
  return out;
}

// A grid of n points filled with NaN (all bits set), so that an entry a
// builder leaves unwritten shows.
bool allocateGrid(MatchLut &lut, int n) {
  if (!lut.allocate(n)) return false;
  std::memset(lut.data, 0xff, static_cast<size_t>(n) * n * n * 3 * sizeof(float));
  return true;
}

void checkTable(const MatchLut &lut, const char *builder) {
  FUZZ_CHECK(lut.valid.load(), "the %s table is not marked valid", builder);
  const int n = lut.size;
  const int64_t count = static_cast<int64_t>(n) * n * n * 3;
  for (int64_t i = 0; i < count; ++i) {
    const float v = lut.data[i];
    FUZZ_CHECK(std::isfinite(v) && v >= 0.0f && v <= 1.0f, "%s entry %lld of a %d-point table is %g", builder,
               static_cast<long long>(i), n, static_cast<double>(v));
  }
}

bool sameBits(const void *a, const void *b, size_t bytes) { return std::memcmp(a, b, bytes) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  const bool usableSize = fdp.ConsumeIntegralInRange<int>(0, 15) != 0;
  static const int kUnusable[3] = {0, 1, kMaxLutSize + 1};
  // Mostly small grids: a build costs n^3, and the larger sizes only add
  // smoothing radii that the small ones do not have.
  const int largest = fdp.ConsumeIntegralInRange<int>(0, 7) == 0 ? 17 : 9;
  const int n = usableSize ? fdp.ConsumeIntegralInRange<int>(kMinLutSize, largest)
                           : kUnusable[fdp.ConsumeIntegralInRange<int>(0, 2)];
  float smoothing;
  switch (fdp.ConsumeIntegralInRange<int>(0, 2)) {
    case 0: smoothing = specialFloat(fdp); break;
    case 1: smoothing = fdp.ConsumeFloatingPointInRange<float>(-1.0f, 10.0f); break;
    default: smoothing = kLutSmoothing; break;
  }
  const ColorSpace colorSpace = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange<int>(0, 2) : specialInt(fdp);
  const PreserveMode preserve = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange<int>(0, 2) : specialInt(fdp);

  TestImage source = imageFromFuzz(fdp);
  TestImage reference = imageFromFuzz(fdp);
  TestImage sourceMask, referenceMask;
  const bool withSourceMask = fdp.ConsumeBool();
  if (withSourceMask) sourceMask = maskFromFuzz(fdp);
  const bool withReferenceMask = fdp.ConsumeBool();
  if (withReferenceMask) referenceMask = maskFromFuzz(fdp);
  const MaskView *sourceMaskView = withSourceMask ? &sourceMask.view : nullptr;
  const MaskView *referenceMaskView = withReferenceMask ? &referenceMask.view : nullptr;

  float fill[3];
  for (float &f : fill) {
    f = specialFloat(fdp);
    if (!std::isfinite(f)) f = 0.25f;
  }
  TestImage sourceLeftMask, referenceLeftMask;
  const TestImage sourceLeft = leftOut(source, sourceMaskView, fill, sourceLeftMask, fdp);
  const TestImage referenceLeft = leftOut(reference, referenceMaskView, fill, referenceLeftMask, fdp);

  // The statistics.
  const TestImage *images[2] = {&source, &reference};
  const TestImage *lefts[2] = {&sourceLeft, &referenceLeft};
  const MaskView *masks[2] = {sourceMaskView, referenceMaskView};
  const TestImage *leftMasks[2] = {&sourceLeftMask, &referenceLeftMask};
  for (int i = 0; i < 2; ++i) {
    ClipStats stats, statsLeft;
    computeClipStats(images[i]->view, colorSpace, stats, masks[i]);
    computeClipStats(lefts[i]->view, colorSpace, statsLeft, &leftMasks[i]->view);
    FUZZ_CHECK(sameBits(&stats, &statsLeft, sizeof stats),
               "%s statistics in space %d: mean %g %g %g, deviation %g %g %g; with the non-finite pixels masked "
               "out: mean %g %g %g, deviation %g %g %g",
               i == 0 ? "Source" : "Reference", colorSpace, stats.mean[0], stats.mean[1], stats.mean[2],
               stats.deviation[0], stats.deviation[1], stats.deviation[2], statsLeft.mean[0], statsLeft.mean[1],
               statsLeft.mean[2], statsLeft.deviation[0], statsLeft.deviation[1], statsLeft.deviation[2]);
  }

  // Different Clips, on the images as they are and with the pixels left out.
  MatchLut lut, lutLeft, sameFrame;
  if (!allocateGrid(lut, n)) {
    FUZZ_CHECK(!usableSize, "cannot allocate a %d-point table", n);
    FUZZ_CHECK(buildDifferentClipsLut(source.view, reference.view, lut, smoothing, colorSpace, preserve,
                                      sourceMaskView, referenceMaskView) &&
                   buildSameFrameLut(source.view, reference.view, lut, smoothing, preserve),
               "a builder without a table reported missing memory");
    FUZZ_CHECK(!lut.valid.load() && lut.data == nullptr, "a builder without a table made one valid");
    return 0;
  }
  FUZZ_CHECK(buildDifferentClipsLut(source.view, reference.view, lut, smoothing, colorSpace, preserve,
                                    sourceMaskView, referenceMaskView),
             "Different Clips reported missing memory");
  checkTable(lut, "Different Clips");
  FUZZ_CHECK(allocateGrid(lutLeft, n), "cannot allocate a %d-point table", n);
  buildDifferentClipsLut(sourceLeft.view, referenceLeft.view, lutLeft, smoothing, colorSpace, preserve,
                         &sourceLeftMask.view, &referenceLeftMask.view);
  const size_t bytes = static_cast<size_t>(n) * n * n * 3 * sizeof(float);
  FUZZ_CHECK(sameBits(lut.data, lutLeft.data, bytes),
             "the Different Clips table changes when the non-finite pixels are masked out instead");

  FUZZ_CHECK(allocateGrid(sameFrame, n), "cannot allocate a %d-point table", n);
  FUZZ_CHECK(buildSameFrameLut(source.view, reference.view, sameFrame, smoothing, preserve),
             "Same Frame reported missing memory");
  checkTable(sameFrame, "Same Frame");
  return 0;
}
