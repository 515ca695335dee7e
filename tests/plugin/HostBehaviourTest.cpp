// What production hosts do that a whole-frame host hides: masks with their own
// bounds, and a mix of 0 rendered as is-identity promises.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "plugin/Names.h"
#include "support/RenderSupport.h"

using namespace rendertest;
using tbhost::Components;
using tbhost::Image;
using tbhost::PixelDepth;

namespace {

constexpr int W = 40;
constexpr int H = 30;
const OfxRectI kWhole{0, 0, W, H};

// Renders Source against Reference with `mask` (may be null) as the Source Mask.
std::shared_ptr<Image> renderWithMask(std::shared_ptr<Image> mask) {
  Loaded l;
  l.inst.setImage(kClipSource, picture(W, H, 3));
  l.inst.setImage(kClipReference, picture(W, H, 50));
  if (mask) l.inst.setImage(kClipSourceMask, mask);
  EXPECT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
  return l.inst.image(kClipOutput, 0.0);
}

std::shared_ptr<Image> alphaMask(OfxRectI bounds, float (*value)(int x, int y)) {
  auto mask = Image::create(PixelDepth::Float, Components::Alpha, bounds);
  for (int y = bounds.y1; y < bounds.y2; ++y)
    for (int x = bounds.x1; x < bounds.x2; ++x) mask->set(x, y, 0, value(x, y));
  return mask;
}

bool samePixels(const Image &a, const Image &b) {
  for (int y = 0; y < H; ++y)
    if (std::memcmp(a.pixelAddress(0, y), b.pixelAddress(0, y), static_cast<size_t>(W) * a.bytesPerPixel()) != 0)
      return false;
  return true;
}

TEST(PixelSpaceMasks, AMaskIsPlacedByItsBoundsNotStretched) {
  const auto unmasked = renderWithMask(nullptr);
  // A matte defined over the left half only weighs like a whole-frame matte
  // that is 0 on the right half.
  const auto leftHalf = renderWithMask(alphaMask({0, 0, W / 2, H}, [](int, int) { return 1.0f; }));
  const auto whole = renderWithMask(alphaMask(kWhole, [](int x, int) { return x < W / 2 ? 1.0f : 0.0f; }));
  EXPECT_TRUE(samePixels(*leftHalf, *whole));
  EXPECT_FALSE(samePixels(*leftHalf, *unmasked));
  // A matte at another origin reads the image pixel under each of its pixels.
  auto pattern = [](int x, int y) { return ((x / 5 + y / 3) % 2) ? 1.0f : 0.0f; };
  const auto offset = renderWithMask(alphaMask({7, 4, W + 7, H + 4}, pattern));
  const auto placed = renderWithMask(alphaMask(kWhole, [](int x, int y) {
    return x >= 7 && y >= 4 ? (((x / 5 + y / 3) % 2) ? 1.0f : 0.0f) : 0.0f;
  }));
  EXPECT_TRUE(samePixels(*offset, *placed));
}

TEST(NoMix, WritesTheSourceUnchangedAsIsIdentityPromises) {
  const float kNaN = std::numeric_limits<float>::quiet_NaN();
  for (double mix : {0.0, -0.5}) {
    Loaded l;
    auto source = picture(W, H, 9);
    source->set(1, 1, 0, 1.5f);
    source->set(2, 1, 1, -0.25f);
    source->set(3, 1, 2, kNaN);
    l.inst.setImage(kClipSource, source);
    l.inst.setImage(kClipReference, picture(W, H, 60));
    l.inst.setParam(kParamStrength, mix);
    ASSERT_EQ(l.inst.isIdentity(0.0, kWhole).status, kOfxStatOK);
    ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
    EXPECT_TRUE(samePixels(*l.inst.image(kClipOutput, 0.0), *source)) << mix;
    // The LUT is still built, for the exports.
    EXPECT_NE(publishedGrid(l.inst), nullptr);
  }
}

}  // namespace
