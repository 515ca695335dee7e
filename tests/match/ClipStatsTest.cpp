#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "MatchTestSupport.h"
#include "match/ClipStats.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();

void expectDefaults(const ClipStats &s) {
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(s.mean[k], 0.5f);
    EXPECT_EQ(s.deviation[k], 0.25f);
  }
}

ClipStats statsOf(const TestImage &image, ColorSpace space, const MaskView *mask = nullptr) {
  ClipStats s;
  computeClipStats(image.view(), space, s, mask);
  return s;
}

// A single-float mask of the given size with every value `fill`.
struct TestMask {
  std::vector<float> values;
  MaskView view;
  TestMask(int width, int height, int components, float fill)
      : values(static_cast<size_t>(width) * height * components, fill) {
    view = {values.data(), width, height, width * components * 4, components};
  }
  float *at(int x, int y) { return values.data() + (static_cast<size_t>(y) * view.width + x) * view.componentCount; }
};

TEST(ClipStats, UniformImage) {
  TestImage grey = makeImage(64, 48, 0.25f, 0.5f, 0.75f);
  ClipStats s = statsOf(grey, 0);
  EXPECT_EQ(s.mean[0], 0.25f);
  EXPECT_EQ(s.mean[2], 0.75f);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(s.deviation[k], 1e-6f);

  ClipStats lab = statsOf(makeImage(64, 48, 1, 1, 1), kColorSpaceLab);
  EXPECT_NEAR(lab.mean[0], 255.0f, 1e-3f);
  EXPECT_NEAR(lab.mean[1], 128.0f, 1e-3f);
}

TEST(ClipStats, DegenerateInputsGiveDefaults) {
  TestImage image = makeImage(8, 8, 0.1f, 0.2f, 0.3f);
  ClipStats s;
  computeClipStats(ImageView{image.data(), 8, 0, image.rowBytes(), 4}, kColorSpaceLab, s, nullptr);
  expectDefaults(s);
  computeClipStats(ImageView{image.data(), 0, 8, image.rowBytes(), 4}, 0, s, nullptr);
  expectDefaults(s);
  computeClipStats(ImageView{image.data(), -8, 8, image.rowBytes(), 4}, 0, s, nullptr);
  expectDefaults(s);
  computeClipStats(ImageView{nullptr, 8, 8, 128, 4}, 0, s, nullptr);
  expectDefaults(s);
  TestMask reject(8, 8, 1, 0.49f);
  s = statsOf(image, kColorSpaceLab, &reject.view);
  expectDefaults(s);
  TestMask empty(8, 8, 1, 1.0f);
  empty.view.width = 0;
  s = statsOf(image, 0, &empty.view);
  expectDefaults(s);
}

TEST(ClipStats, SamplingStepBoundary) {
  // Odd columns are white: a full read sees them, a step of 2 does not.
  auto striped = [](int w, int h) {
    TestImage image = makeImage(w, h, 0, 0, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 1; x < w; x += 2) image.at(x, y)[0] = 1.0f;
    return image;
  };
  EXPECT_NEAR(statsOf(striped(199, 200), 0).mean[0], 99.0f / 199.0f, 1e-6f);
  EXPECT_EQ(statsOf(striped(200, 200), 0).mean[0], 0.0f);
}

TEST(ClipStats, MaskWeights) {
  // Red values 0.2, 0.4, 0.6, 0.8, 1.0 against mask values 0.5, 0.49, NaN, -1, 1.7.
  TestImage image = makeImage(5, 1, 0, 0, 0);
  TestMask mask(5, 1, 1, 0);
  const float weights[5] = {0.5f, 0.49f, kNaN, -1.0f, 1.7f};
  for (int x = 0; x < 5; ++x) {
    image.at(x, 0)[0] = 0.2f * (x + 1);
    *mask.at(x, 0) = weights[x];
  }
  ClipStats s = statsOf(image, 0, &mask.view);
  const double mean = (0.5 * 0.2 + 0.6 + 1.0) / 2.5;
  EXPECT_NEAR(s.mean[0], mean, 1e-6);
  const double var = (0.5 * (0.2 - mean) * (0.2 - mean) + (0.6 - mean) * (0.6 - mean) + (1.0 - mean) * (1.0 - mean)) / 2.5;
  EXPECT_NEAR(s.deviation[0], std::sqrt(var) + 1e-6, 1e-6);
}

TEST(ClipStats, MaskComponentCounts) {
  // Only the right-hand half counts; the other floats of each pixel say the opposite.
  TestImage image = makeImage(4, 2, 0.2f, 0.2f, 0.2f);
  for (int y = 0; y < 2; ++y)
    for (int x = 2; x < 4; ++x) image.at(x, y)[0] = 0.8f;
  for (int components : {1, 3, 4}) {
    TestMask mask(4, 2, components, 0.0f);
    const int used = components == 4 ? 3 : 0;
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 4; ++x)
        for (int c = 0; c < components; ++c) mask.at(x, y)[c] = ((x >= 2) == (c == used)) ? 1.0f : 0.0f;
    EXPECT_NEAR(statsOf(image, 0, &mask.view).mean[0], 0.8f, 1e-6f) << components << " components";
  }
}

TEST(ClipStats, MaskReadInPixelSpace) {
  // The sample at image pixel (x, y) takes the mask's value at the same pixel,
  // whatever the mask's size; outside the mask there is no weight.
  TestImage image = makeImage(8, 10, 0.1f, 0.1f, 0.1f);
  image.at(3, 5)[1] = 0.9f;
  image.at(6, 8)[1] = 0.5f;
  TestMask small(4, 6, 1, 0.0f);
  *small.at(3, 5) = 1.0f;
  EXPECT_EQ(statsOf(image, 0, &small.view).mean[1], 0.9f);
  // A mask placed at (3, 3) of the image: its pixel (3, 5) lies on image (6, 8).
  small.view.originX = 3;
  small.view.originY = 3;
  EXPECT_EQ(statsOf(image, 0, &small.view).mean[1], 0.5f);
  // A mask larger than the image reads only the pixels that lie on it.
  TestMask large(16, 20, 1, 1.0f);
  large.view.originX = -8;
  large.view.originY = -10;
  *large.at(8 + 3, 10 + 5) = 0.0f;
  const ClipStats s = statsOf(image, 0, &large.view);
  EXPECT_NEAR(s.mean[1], (0.1f * 78 + 0.5f) / 79, 1e-6f);
}

TEST(ClipStats, BottomUpRowsGiveTheSameStatistics) {
  TestImage image = makePicture(120, 90);
  ClipStats down = statsOf(image, kColorSpaceLab);
  // The same picture stored last row first, addressed from its top row.
  TestImage flipped = image;
  for (int y = 0; y < 90; ++y)
    for (int x = 0; x < 120; ++x)
      for (int c = 0; c < 4; ++c) flipped.at(x, 89 - y)[c] = image.at(x, y)[c];
  ClipStats up;
  computeClipStats(ImageView{flipped.at(0, 89), 120, 90, -flipped.rowBytes(), 4}, kColorSpaceLab, up, nullptr);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(down.mean[k], up.mean[k]);
    EXPECT_EQ(down.deviation[k], up.deviation[k]);
  }
}

}  // namespace

// A sample that is not finite after conversion counts as if its weight were
// below one half: in both passes, in every working space, the other samples
// summed in the same order.
TEST(ClipStats, NonFiniteSamplesAreLeftOut) {
  const float kBad[] = {kNaN, std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
  const TestImage clean = makePicture(64, 48);
  for (float bad : kBad) {
    for (int channel = 0; channel < 3; ++channel) {
      TestImage dirty = clean;
      dirty.at(5, 7)[channel] = bad;
      dirty.at(63, 47)[channel] = bad;
      TestMask without(64, 48, 1, 1.0f);
      *without.at(5, 7) = 0.0f;
      *without.at(63, 47) = 0.0f;
      for (ColorSpace space : {int(0), int(kColorSpaceLab), int(kColorSpaceYuv)}) {
        const ClipStats got = statsOf(dirty, space), want = statsOf(clean, space, &without.view);
        for (int k = 0; k < 3; ++k) {
          EXPECT_EQ(got.mean[k], want.mean[k]) << bad << " " << channel << " " << space;
          EXPECT_EQ(got.deviation[k], want.deviation[k]) << bad << " " << channel << " " << space;
        }
      }
    }
  }
  // With every sample left out the defaults apply.
  expectDefaults(statsOf(makeImage(16, 16, kNaN, 0.5f, 0.5f), kColorSpaceLab));
}
