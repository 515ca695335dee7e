// What production hosts do that a whole-frame host hides: tiles and crops at
// the regions of interest, edits upstream, masks with their own bounds, RGB
// mattes, premultiplied clips, and a mix of 0 rendered as is-identity promises.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>
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

// A fresh instance's output for the windows rendered in turn.
std::shared_ptr<Image> renderWindows(const std::vector<OfxRectI> &windows, int mode,
                                     std::shared_ptr<Image> reference = nullptr) {
  Loaded l;
  l.inst.setImage(kClipSource, picture(W, H, 3));
  l.inst.setImage(kClipReference, reference ? reference : picture(W, H, 50));
  l.inst.setParam(kParamMatchMode, mode);
  for (const OfxRectI &w : windows) EXPECT_EQ(l.inst.render(0.0, w), kOfxStatOK);
  return l.inst.image(kClipOutput, 0.0);
}

TEST(RegionsOfInterest, TilesAndCropsMeasureTheWholeFrame) {
  std::vector<OfxRectI> tiles;
  for (int ty = 0; ty < 4; ++ty)
    for (int tx = 0; tx < 4; ++tx) tiles.push_back({tx * W / 4, ty * H / 4, (tx + 1) * W / 4, (ty + 1) * H / 4});
  for (int mode : {0, 1}) {
    const auto whole = renderWindows({kWhole}, mode);
    EXPECT_TRUE(samePixels(*renderWindows(tiles, mode), *whole)) << mode;
    EXPECT_TRUE(samePixels(*renderWindows({{0, 0, W / 2, H / 2}, kWhole}, mode), *whole)) << mode;
  }
  // Every input was asked for, and given, its whole region of definition.
  Loaded l;
  l.inst.setImage(kClipSource, picture(W, H, 3));
  l.inst.setImage(kClipReference, picture(W, H, 50));
  ASSERT_EQ(l.inst.render(0.0, {0, 0, 8, 8}), kOfxStatOK);
  for (const tbhost::ImageRecord &r : l.inst.fetchedImages()) {
    if (r.clip == kClipOutput) continue;
    EXPECT_EQ(r.bounds.x2 - r.bounds.x1, W) << r.clip;
    EXPECT_EQ(r.bounds.y2 - r.bounds.y1, H) << r.clip;
  }
}

TEST(UpstreamEdits, NewPixelsAtTheSameTimeBuildAgain) {
  auto edited = picture(W, H, 77);
  const auto fresh = renderWindows({kWhole}, 0, edited);
  Loaded l;
  l.inst.setImage(kClipSource, picture(W, H, 3));
  l.inst.setImage(kClipReference, 0.0, picture(W, H, 50));
  l.inst.setImage(kClipReference, 1.0, picture(W, H, 51));
  ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
  l.inst.setImage(kClipReference, 0.0, edited);  // no instance-changed, as a node above is edited
  ASSERT_EQ(l.inst.render(1.0, kWhole), kOfxStatOK);
  ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
  EXPECT_TRUE(samePixels(*l.inst.image(kClipOutput, 0.0), *fresh));
}

TEST(MaskFormats, AnRgbMatteIsAskedForAsAlpha) {
  Loaded l;
  const tbhost::ClipPreferences prefs = l.inst.clipPreferences();
  EXPECT_EQ(prefs.status, kOfxStatOK);
  for (const tbhost::ClipPreference &c : prefs.clips) {
    if (c.clip == kClipSourceMask || c.clip == kClipReferenceMask) {
      EXPECT_EQ(c.components, kOfxImageComponentAlpha);
    }
  }
  // White on the left half, as RGB: the host converts it to an alpha matte.
  auto rgb = Image::create(PixelDepth::Float, Components::RGB, kWhole);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      for (int c = 0; c < 3; ++c) rgb->set(x, y, c, x < W / 2 ? 1.0f : 0.0f);
  const auto fromRgb = renderWithMask(rgb);
  const auto fromAlpha = renderWithMask(alphaMask(kWhole, [](int x, int) { return x < W / 2 ? 1.0f : 0.0f; }));
  EXPECT_TRUE(samePixels(*fromRgb, *fromAlpha));
}

TEST(Premultiplication, APremultipliedSourceIsMatchedUnpremultiplied) {
  // The straight picture, and the same picture premultiplied.
  auto straight = picture(W, H, 3);
  auto premultiplied = Image::create(PixelDepth::Float, Components::RGBA, kWhole);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const float a = (x % 7 == 0) ? 0.0f : 0.2f + 0.8f * static_cast<float>(x) / W;
      straight->set(x, y, 3, a);
      for (int c = 0; c < 3; ++c) premultiplied->set(x, y, c, std::fmin(straight->get(x, y, c), 1.0f) * a);
      premultiplied->set(x, y, 3, a);
      for (int c = 0; c < 3; ++c) straight->set(x, y, c, std::fmin(straight->get(x, y, c), 1.0f));
    }
  // The straight render leaves out, through a mask, the pixels without alpha.
  Loaded s, p;
  s.inst.setImage(kClipSource, straight);
  s.inst.setImage(kClipSourceMask, alphaMask(kWhole, [](int x, int) { return x % 7 == 0 ? 0.0f : 1.0f; }));
  p.inst.setImage(kClipSource, premultiplied);
  p.inst.setPremultiplication(kClipSource, kOfxImagePreMultiplied);
  for (Loaded *l : {&s, &p}) {
    l->inst.setImage(kClipReference, picture(W, H, 50));
    ASSERT_EQ(l->inst.render(0.0, kWhole), kOfxStatOK);
  }
  EXPECT_EQ(p.inst.clipPreferences().premultiplication, kOfxImagePreMultiplied);
  const auto a = s.inst.image(kClipOutput, 0.0), b = p.inst.image(kClipOutput, 0.0);
  float worst = 0.0f;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const float alpha = straight->get(x, y, 3);
      EXPECT_EQ(b->get(x, y, 3), alpha);
      for (int c = 0; c < 3; ++c) {
        EXPECT_LE(b->get(x, y, c), alpha);
        // Pixels without alpha are not measured, and keep their colour.
        if (alpha > 0.0f) worst = std::fmax(worst, std::fabs(b->get(x, y, c) - a->get(x, y, c) * alpha));
      }
    }
  EXPECT_LT(worst, 2e-3f);
}

}  // namespace
