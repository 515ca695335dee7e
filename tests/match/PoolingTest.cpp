// Measurements of several frames pooled into one LUT.
#include <gtest/gtest.h>

#include <vector>

#include "MatchTestSupport.h"
#include "match/ClipStats.h"
#include "match/LutBuilders.h"

namespace {

TEST(Pooling, OneFrameGivesItsOwnLutAndCopiesOfItChangeNothing) {
  const TestImage source = makePicture(160, 90);
  const float gain[3] = {0.8f, 1.1f, 0.9f}, gamma[3] = {1.2f, 0.9f, 1.0f}, lift[3] = {0.02f, 0.0f, 0.05f};
  const TestImage reference = gradeImage(source, gain, gamma, lift);
  for (int preserve : {0, 1, 2}) {
    // Different Clips.
    ClipSamples s, r;
    gatherClipSamples(source.view(), kColorSpaceLab, nullptr, s);
    gatherClipSamples(reference.view(), kColorSpaceLab, nullptr, r);
    MatchLut direct, pooled, copies;
    ASSERT_TRUE(direct.allocate(17) && pooled.allocate(17) && copies.allocate(17));
    buildDifferentClipsLut(source.view(), reference.view(), direct, 5.0f, kColorSpaceLab, preserve, nullptr, nullptr);
    const ClipSamples *one[1] = {&s}, *oneRef[1] = {&r};
    const float unit[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    ClipStats ss, rs;
    pooledClipStats(one, unit, 1, ss);
    pooledClipStats(oneRef, unit, 1, rs);
    buildDifferentClipsLutFromStats(ss, rs, pooled, 5.0f, kColorSpaceLab, preserve);
    EXPECT_EQ(maxDifference(direct, pooled), 0.0f) << preserve;
    const ClipSamples *four[4] = {&s, &s, &s, &s}, *fourRef[4] = {&r, &r, &r, &r};
    const float weights[4] = {0.25f, 1.0f, 0.5f, 1.0f};
    pooledClipStats(four, weights, 4, ss);
    pooledClipStats(fourRef, weights, 4, rs);
    buildDifferentClipsLutFromStats(ss, rs, copies, 5.0f, kColorSpaceLab, preserve);
    EXPECT_LT(maxDifference(direct, copies), 1e-5f) << preserve;

    // Same Frame.
    SampledPairs pairs;
    gatherSameFramePairs(source.view(), reference.view(), preserve, false, pairs);
    ASSERT_TRUE(direct.allocate(17));
    buildSameFrameLut(source.view(), reference.view(), direct, 5.0f, preserve);
    const SampledPairs *frames[4] = {&pairs, &pairs, &pairs, &pairs};
    buildSameFrameLutFromPairs(frames, unit, 1, pooled, 5.0f);
    EXPECT_EQ(maxDifference(direct, pooled), 0.0f) << preserve;
    buildSameFrameLutFromPairs(frames, weights, 4, copies, 5.0f);
    EXPECT_LT(maxDifference(direct, copies), 1e-6f) << preserve;
  }
}

TEST(Pooling, FramesPoolAsOnePicture) {
  // Two halves measured as two frames give the statistics of the whole.
  const TestImage whole = makePicture(64, 64);
  TestImage top = whole, bottom = whole;
  top.height = bottom.height = 32;
  top.pixels.resize(static_cast<size_t>(64) * 32 * 4);
  bottom.pixels.assign(whole.pixels.begin() + 64 * 32 * 4, whole.pixels.end());
  ClipSamples a, b, all;
  gatherClipSamples(top.view(), kColorSpaceLab, nullptr, a);
  gatherClipSamples(bottom.view(), kColorSpaceLab, nullptr, b);
  gatherClipSamples(whole.view(), kColorSpaceLab, nullptr, all);
  const ClipSamples *halves[2] = {&a, &b}, *one[1] = {&all};
  const float unit[2] = {1.0f, 1.0f};
  ClipStats pooled, direct;
  pooledClipStats(halves, unit, 2, pooled);
  pooledClipStats(one, unit, 1, direct);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(pooled.mean[k], direct.mean[k]);
    EXPECT_EQ(pooled.deviation[k], direct.deviation[k]);
  }
}

}  // namespace
