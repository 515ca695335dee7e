// The render and is-identity actions, driven through the built module.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "lut/MatchLut.h"
#include "match/LutBuilders.h"
#include "support/RenderSupport.h"
#include "plugin/Names.h"

using namespace rendertest;
using tbhost::Components;
using tbhost::Image;
using tbhost::PixelDepth;

namespace {

constexpr int W = 48;
constexpr int H = 32;
const OfxRectI kWhole{0, 0, W, H};

void connectPair(tbhost::Instance &inst, double time = 0.0, int seed = 0) {
  inst.setImage(kClipSource, time, picture(W, H, 1 + seed));
  inst.setImage(kClipReference, time, picture(W, H, 40 + seed));
}

TEST(RenderCache, BuildsOncePerTimeAndChoicesNotPerStrength) {
  Loaded l;
  connectPair(l.inst, 0.0);
  connectPair(l.inst, 1.0, 5);
  ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
  const MatchLut *first = publishedGrid(l.inst);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->valid);
  EXPECT_EQ(record(l.inst)->cachedSourceTime, 0.0);

  ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
  EXPECT_EQ(publishedGrid(l.inst), first) << "same time, same choices: no rebuild";

  l.inst.setParam(kParamStrength, 0.3);
  l.inst.setParam(kParamStrengthG, 0.1);
  ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
  EXPECT_EQ(publishedGrid(l.inst), first) << "strengths are applied, not built in";

  ASSERT_EQ(l.inst.render(1.0, kWhole), kOfxStatOK);
  EXPECT_NE(publishedGrid(l.inst), first) << "a new time rebuilds";
  EXPECT_EQ(record(l.inst)->cachedReferenceTime, 1.0);

  const MatchLut *second = publishedGrid(l.inst);
  l.inst.setParam(kParamPreserveMode, 2);
  ASSERT_EQ(l.inst.render(1.0, kWhole), kOfxStatOK);
  EXPECT_NE(publishedGrid(l.inst), second) << "a changed choice rebuilds";
  EXPECT_EQ(record(l.inst)->cachedPreserveMode, 2);

  const MatchLut *third = publishedGrid(l.inst);
  EXPECT_EQ(l.inst.instanceChanged(kParamRebuildButton), kOfxStatReplyDefault);
  EXPECT_FALSE(third->valid);
  ASSERT_EQ(l.inst.render(1.0, kWhole), kOfxStatOK);
  EXPECT_NE(publishedGrid(l.inst), third) << "Refresh forces a rebuild";
}

TEST(RenderCache, MaskConnectionRebuildsInBothModes) {
  for (int mode : {0, 1}) {
    Loaded l;
    connectPair(l.inst);
    l.inst.setParam(kParamMatchMode, mode);
    ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
    const MatchLut *before = publishedGrid(l.inst);
    auto mask = Image::create(PixelDepth::Float, Components::Alpha, kWhole);
    mask->fill(1, 1, 1, 1);
    l.inst.setImage(kClipSourceMask, mask);
    ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
    EXPECT_NE(publishedGrid(l.inst), before) << "mode " << mode;
    EXPECT_TRUE(record(l.inst)->cachedHadSourceMask);
    const MatchLut *withMask = publishedGrid(l.inst);
    l.inst.setClipConnected(kClipSourceMask, false);
    ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
    EXPECT_NE(publishedGrid(l.inst), withMask) << "mode " << mode;
    EXPECT_FALSE(record(l.inst)->cachedHadSourceMask);
  }
}

TEST(RenderPixels, ClampsSourceAndKeepsAlphaWithoutReference) {
  Loaded l;
  connectPair(l.inst);
  ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);  // leaves a valid LUT behind
  auto src = Image::create(PixelDepth::Float, Components::RGBA, {0, 0, 4, 1});
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float values[4][4] = {{1.5f, -0.2f, nan, 1.5f}, {0.25f, 0.5f, 0.75f, -3.0f}, {0, 0, 0, 0}, {1, 1, 1, 1}};
  for (int x = 0; x < 4; ++x)
    for (int c = 0; c < 4; ++c) src->set(x, 0, c, values[x][c]);
  l.inst.setImage(kClipSource, 2.0, src);
  ASSERT_EQ(l.inst.render(2.0, {0, 0, 4, 1}), kOfxStatOK);
  auto out = l.inst.image(kClipOutput, 2.0);
  ASSERT_TRUE(out);
  EXPECT_EQ(out->get(0, 0, 0), 1.0f);
  EXPECT_EQ(out->get(0, 0, 1), 0.0f);
  EXPECT_EQ(out->get(0, 0, 2), 1.0f);
  EXPECT_EQ(out->get(0, 0, 3), 1.5f);
  EXPECT_EQ(out->get(1, 0, 0), 0.25f);
  EXPECT_EQ(out->get(1, 0, 2), 0.75f);
  EXPECT_EQ(out->get(1, 0, 3), -3.0f);
  EXPECT_EQ(l.inst.ledger().outstanding.size(), 0u);
}

// The output of the module equals an in-process build and lookup of the same
// images, mixed as the render mixes.
TEST(RenderPixels, MatchesInProcessBuildAndMix) {
  for (int mode : {0, 1, 7}) {
    for (int preserve : {0, 1, 2}) {
      Loaded l;
      auto src = picture(W, H, 3);
      auto ref = picture(W, H, 70);
      l.inst.setImage(kClipSource, src);
      l.inst.setImage(kClipReference, ref);
      l.inst.setParam(kParamMatchMode, mode);
      l.inst.setParam(kParamPreserveMode, preserve);
      l.inst.setParam(kParamStrength, 0.8);
      l.inst.setParam(kParamStrengthR, 0.5);
      l.inst.setParam(kParamStrengthB, 0.0);
      ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
      auto out = l.inst.image(kClipOutput, 0.0);

      MatchLut lut;
      ASSERT_TRUE(lut.allocate(65));
      const float *sp = static_cast<const float *>(src->data());
      const float *rp = static_cast<const float *>(ref->data());
      if (mode == 1)
        buildSameFrameLut(ImageView{sp, W, H, src->rowBytes(), 4}, ImageView{rp, W, H, ref->rowBytes(), 4}, lut, 5.0f, preserve);
      else
        buildDifferentClipsLut(ImageView{sp, W, H, src->rowBytes(), 4}, ImageView{rp, W, H, ref->rowBytes(), 4}, lut, 5.0f, 1, preserve, nullptr, nullptr);
      const float s[3] = {static_cast<float>(0.5 * 0.8), static_cast<float>(1.0 * 0.8), 0.0f};
      for (int y = 0; y < H; y += 3)
        for (int x = 0; x < W; x += 5) {
          float in[3], l3[3];
          for (int c = 0; c < 3; ++c) in[c] = src->get(x, y, c);
          lut.lookup(in[0], in[1], in[2], l3[0], l3[1], l3[2]);
          for (int c = 0; c < 3; ++c)
            ASSERT_EQ(out->get(x, y, c), (1.0f - s[c]) * in[c] + s[c] * l3[c])
                << "mode " << mode << " preserve " << preserve << " at " << x << "," << y << " c" << c;
          ASSERT_EQ(out->get(x, y, 3), 0.75f);
        }
    }
  }
}

TEST(RenderPixels, PerChannelMixes) {
  Loaded l;
  connectPair(l.inst);
  l.inst.setParam(kParamStrengthR, 0.0);
  l.inst.setParam(kParamStrengthG, 0.0);
  l.inst.setParam(kParamStrengthB, 0.0);
  ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
  auto src = l.inst.image(kClipSource, 0.0);
  auto out = l.inst.image(kClipOutput, 0.0);
  for (int y = 0; y < H; y += 7)
    for (int x = 0; x < W; x += 7)
      for (int c = 0; c < 4; ++c) ASSERT_EQ(out->get(x, y, c), src->get(x, y, c));

  l.inst.setParam(kParamStrengthR, 0.5);
  l.inst.setParam(kParamStrengthG, 1.0);
  l.inst.setParam(kParamStrengthB, 1.0);
  ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
  const MatchLut *lut = publishedGrid(l.inst);
  for (int y = 0; y < H; y += 7)
    for (int x = 0; x < W; x += 7) {
      float r, g, b;
      lut->lookup(src->get(x, y, 0), src->get(x, y, 1), src->get(x, y, 2), r, g, b);
      EXPECT_EQ(out->get(x, y, 0), 0.5f * src->get(x, y, 0) + 0.5f * r);
      EXPECT_EQ(out->get(x, y, 1), g);
    }
}

TEST(RenderPixels, EveryDepthAndComponentCountGivesTheSamePicture) {
  Loaded ref;
  connectPair(ref.inst);
  ASSERT_EQ(ref.inst.render(0.0, kWhole), kOfxStatOK);
  auto expected = ref.inst.image(kClipOutput, 0.0);

  for (PixelDepth depth : {PixelDepth::Byte, PixelDepth::Short, PixelDepth::Float}) {
    for (Components comps : {Components::RGBA, Components::RGB}) {
      Loaded l;
      // Quantise the inputs first so every depth sees the same colours.
      auto src = picture(W, H, 1, kWhole, depth, comps);
      auto refImg = picture(W, H, 40, kWhole, depth, comps);
      l.inst.setImage(kClipSource, src);
      l.inst.setImage(kClipReference, refImg);
      l.inst.setImage(kClipOutput, Image::create(depth, comps, kWhole));
      ASSERT_EQ(l.inst.render(0.0, kWhole), kOfxStatOK);
      auto out = l.inst.image(kClipOutput, 0.0);
      ASSERT_TRUE(out->outsideIntact());
      const float tol = depth == PixelDepth::Byte ? 2.5f / 255 : (depth == PixelDepth::Short ? 2e-4f : 1e-6f);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          for (int c = 0; c < 3; ++c)
            ASSERT_NEAR(out->get(x, y, c), expected->get(x, y, c), tol)
                << depthName(depth) << " " << componentsName(comps) << " at " << x << "," << y;
          if (comps == Components::RGBA) {
            ASSERT_NEAR(out->get(x, y, 3), 0.75f, tol);
          }
        }
    }
  }
}

TEST(RenderGeometry, OffsetBoundsPaddedAndBottomUpRowsAgreeWithPacked) {
  Loaded packed;
  connectPair(packed.inst);
  ASSERT_EQ(packed.inst.render(0.0, kWhole), kOfxStatOK);
  auto expected = packed.inst.image(kClipOutput, 0.0);

  const OfxRectI moved{-17, 9, -17 + W, 9 + H};
  for (bool negative : {false, true}) {
    tbhost::ImageLayout layout;
    layout.rowPadding = 36;
    layout.negativeRowBytes = negative;
    Loaded l;
    l.inst.setImage(kClipSource, picture(W, H, 1, moved, PixelDepth::Float, Components::RGBA, layout));
    l.inst.setImage(kClipReference, picture(W, H, 40, OfxRectI{5, -3, 5 + W, -3 + H}, PixelDepth::Float,
                                         Components::RGBA, layout));
    l.inst.setImage(kClipOutput, Image::create(PixelDepth::Float, Components::RGBA, moved, layout));
    ASSERT_EQ(l.inst.render(0.0, moved), kOfxStatOK);
    auto out = l.inst.image(kClipOutput, 0.0);
    EXPECT_TRUE(out->outsideIntact());
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        for (int c = 0; c < 4; ++c)
          ASSERT_EQ(out->get(moved.x1 + x, moved.y1 + y, c), expected->get(x, y, c)) << negative;
  }
}

TEST(RenderGeometry, WindowBeyondTheImagesStaysInsideTheOutput) {
  Loaded l;
  // Source covers only the left half of the output.
  l.inst.setImage(kClipSource, picture(W / 2, H, 1));
  l.inst.setImage(kClipReference, picture(W, H, 40));
  l.inst.setImage(kClipOutput, Image::create(PixelDepth::Float, Components::RGBA, kWhole));
  for (int x = 0; x < W; ++x) {
    for (int y = 0; y < H; ++y) l.inst.image(kClipOutput, 0.0)->set(x, y, 0, 0.5f);
  }
  ASSERT_EQ(l.inst.render(0.0, {-100, -100, 1000, 1000}), kOfxStatOK);
  auto out = l.inst.image(kClipOutput, 0.0);
  EXPECT_TRUE(out->outsideIntact());
  for (int y = 0; y < H; ++y) {
    EXPECT_GT(out->get(W / 4, y, 3), 0.0f);
    for (int c = 0; c < 4; ++c) ASSERT_EQ(out->get(W - 1, y, c), 0.0f) << "no source pixel: transparent black";
  }
  // A window outside the output writes nothing and still succeeds.
  EXPECT_EQ(l.inst.render(0.0, {5000, 5000, 5010, 5010}), kOfxStatOK);
  EXPECT_TRUE(out->outsideIntact());
  EXPECT_EQ(l.inst.ledger().outstanding.size(), 0u);
  EXPECT_EQ(l.inst.ledger().doubleReleases, 0);
}

TEST(RenderFailures, MissingSourceOrOutputAndMissingRecord) {
  Loaded l;
  l.inst.setImage(kClipReference, picture(W, H, 40));
  EXPECT_EQ(l.inst.render(0.0, kWhole), kOfxStatFailed);
  auto ledger = l.inst.ledger();
  EXPECT_EQ(ledger.fetched, ledger.released);
  EXPECT_EQ(ledger.doubleReleases, 0);

  // An instance without a record answers both actions with a bad handle.
  tbhost::PropertySet in;
  in.defineDouble(kOfxPropTime, {0.0});
  in.defineInt(kOfxImageEffectPropRenderWindow, {0, 0, 4, 4});
  tbhost::PropertySet out("out", true);
  void *saved = l.inst.instanceData();
  l.inst.properties()->definePointer(kOfxPropInstanceData, {nullptr});
  EXPECT_EQ(l.inst.callAction(kOfxImageEffectActionRender, &in, nullptr), kOfxStatErrBadHandle);
  EXPECT_EQ(l.inst.callAction(kOfxImageEffectActionIsIdentity, &in, &out), kOfxStatErrBadHandle);
  l.inst.properties()->definePointer(kOfxPropInstanceData, {saved});
}

TEST(IsIdentity, MasterStrengthAloneDecides) {
  Loaded l;
  connectPair(l.inst);
  l.inst.setParam(kParamStrength, -0.5);
  EXPECT_EQ(l.inst.isIdentity(1.0, kWhole).status, kOfxStatOK);

  l.inst.setParam(kParamStrength, 0.0001);
  l.inst.setParam(kParamStrengthR, 0.0);
  l.inst.setParam(kParamStrengthG, 0.0);
  l.inst.setParam(kParamStrengthB, 0.0);
  auto r = l.inst.isIdentity(1.0, kWhole);
  EXPECT_EQ(r.status, kOfxStatReplyDefault);
  EXPECT_TRUE(r.writes.empty());

  // Exactly 0 at the asked time: the Source at that same time.
  l.inst.setParamAt(kParamStrength, 3.0, 0.0);
  r = l.inst.isIdentity(3.0, kWhole);
  EXPECT_EQ(r.status, kOfxStatOK);
  EXPECT_EQ(r.clip, "Source");
  EXPECT_EQ(r.time, 3.0);
}

}  // namespace
