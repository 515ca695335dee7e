// Analysis over several frames: one LUT for a shot, a rolling window, what the
// host is asked for and what it withholds.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "host/StderrCapture.h"
#include "match/ClipStats.h"
#include "match/LutBuilders.h"
#include "plugin/Analysis.h"
#include "plugin/FrameMeasures.h"
#include "plugin/Names.h"
#include "support/RenderSupport.h"

using namespace rendertest;
using tbhost::Image;

namespace {

constexpr int W = 48;
constexpr int H = 32;
const OfxRectI kWhole{0, 0, W, H};

// Frame t of a slow pan: the same picture moved three pixels a frame.
std::shared_ptr<Image> panFrame(int t, int seed = 4) {
  auto img = Image::rgbaFloat(W, H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      for (int c = 0; c < 3; ++c) img->set(x, y, c, wave(x + 3 * t, y, c, seed) * (0.6f + 0.02f * t));
      img->set(x, y, 3, 1.0f);
    }
  return img;
}

ImageView viewOf(const Image &img) {
  return ImageView{static_cast<const float *>(img.data()), img.width(), img.height(), img.rowBytes(), 4};
}

// A pan of `frames` frames against a still Reference, analysed over them.
struct Pan {
  Loaded l;
  std::vector<std::shared_ptr<Image>> source;
  std::shared_ptr<Image> reference = picture(W, H, 70);
  // `provided`: each fetch gets a new copy of the frame, gone once released,
  // as a host that frees what it handed out.
  Pan(int frames, int choice, bool provided = false) {
    for (int t = 0; t < frames; ++t) {
      source.push_back(panFrame(t));
      if (!provided) l.inst.setImage(kClipSource, t, source.back());
    }
    if (provided) {
      l.inst.setImageProvider(kClipSource, [frames](double t) {
        return t >= 0 && t < frames ? panFrame(static_cast<int>(t)) : nullptr;
      });
      l.inst.setFrameRange(kClipSource, 0, frames - 1);
    }
    l.inst.setImage(kClipReference, reference);
    l.inst.setParam(kParamAnalysis, choice);
    l.inst.setParam(kParamAnalysisStart, 0);
    l.inst.setParam(kParamAnalysisEnd, frames - 1);
  }
  OfxStatus render(double t) { return l.inst.render(t, kWhole); }
  uint64_t builds() const { return record(l.inst)->buildCount; }
};

float maxDifference(const MatchLut &a, const MatchLut &b) {
  float d = 0.0f;
  const size_t n = static_cast<size_t>(a.size) * a.size * a.size * 3;
  for (size_t i = 0; i < n; ++i) d = std::max(d, std::fabs(a.data[i] - b.data[i]));
  return d;
}

// The Different Clips LUT of these Source frames, each with its weight,
// pooled against the one Reference.
std::unique_ptr<MatchLut> pooledLut(const std::vector<const Image *> &frames, const std::vector<float> &weights,
                                    const std::vector<const Image *> &refs) {
  std::vector<ClipSamples> samples(frames.size());
  std::vector<const ClipSamples *> pointers;
  for (size_t i = 0; i < frames.size(); ++i) {
    gatherClipSamples(viewOf(*frames[i]), kColorSpaceLab, nullptr, samples[i]);
    pointers.push_back(&samples[i]);
  }
  // One set of samples for a still Reference, as the plug-in shares them.
  std::vector<ClipSamples> refSamples(refs.size());
  std::vector<const ClipSamples *> refPointers;
  for (size_t i = 0; i < frames.size(); ++i) {
    const size_t r = refs.size() == 1 ? 0 : i;
    if (refSamples[r].values.empty()) gatherClipSamples(viewOf(*refs[r]), kColorSpaceLab, nullptr, refSamples[r]);
    refPointers.push_back(&refSamples[r]);
  }
  ClipStats ss, rs;
  pooledClipStats(pointers.data(), weights.data(), static_cast<int>(frames.size()), ss);
  pooledClipStats(refPointers.data(), weights.data(), static_cast<int>(frames.size()), rs);
  auto lut = std::make_unique<MatchLut>();
  lut->allocate(kMatchLutSize);
  buildDifferentClipsLutFromStats(ss, rs, *lut, kLutSmoothing, kColorSpaceLab, 0);
  return lut;
}

std::unique_ptr<MatchLut> pooledLut(const std::vector<const Image *> &frames, const std::vector<float> &weights,
                                    const Image &ref) {
  return pooledLut(frames, weights, std::vector<const Image *>{&ref});
}

TEST(AnalysisPlan, FramesOfARangeAndAWindow) {
  AnalysisPlan p;
  AnalysisSettings range;
  range.choice = kAnalysisFrameRange;
  // 0/0 is the clip's range; twelve frames with both ends, rounded.
  planAnalysis(range, 5.0, 0.0, 47.0, p);
  EXPECT_EQ(p.frames, (std::vector<double>{0, 4, 9, 13, 17, 21, 26, 30, 34, 38, 43, 47}));
  range.start = 10;
  range.end = 4;  // start after end: the clip's range again
  planAnalysis(range, 5.0, 0.0, 47.0, p);
  EXPECT_EQ(p.frames.front(), 0.0);
  range.start = 2;
  range.end = 6;  // more frames than the range has: each once
  planAnalysis(range, 5.0, 0.0, 47.0, p);
  EXPECT_EQ(p.frames, (std::vector<double>{2, 3, 4, 5, 6}));
  range.frames = 1;
  planAnalysis(range, 5.0, 0.0, 47.0, p);
  EXPECT_EQ(p.frames, (std::vector<double>{4}));

  AnalysisSettings rolling;
  rolling.choice = kAnalysisRollingWindow;
  rolling.window = 3;
  planAnalysis(rolling, 1.0, 0.0, 20.0, p);  // cut at the clip's start
  EXPECT_EQ(p.frames, (std::vector<double>{0, 1, 2, 3, 4}));
  EXPECT_EQ(p.weights[1], 1.0f);
  EXPECT_LT(p.weights[4], p.weights[3]);
  EXPECT_GT(p.weights[4], 0.0f);
  planAnalysis(rolling, 20.0, 0.0, 20.0, p);  // and at its end
  EXPECT_EQ(p.frames, (std::vector<double>{17, 18, 19, 20}));
  rolling.choice = kAnalysisEveryFrame;
  planAnalysis(rolling, 20.0, 0.0, 20.0, p);
  EXPECT_TRUE(p.frames.empty());
}

TEST(FrameMeasures, TheLeastRecentlyUsedGoBeyondTheBudget) {
  FrameMeasureStore store;
  auto measure = [] {
    auto m = std::make_shared<FrameMeasure>();
    auto samples = std::make_shared<ClipSamples>();
    samples->values.assign(1000, 0.5f);
    m->source.samples = samples;
    return std::shared_ptr<const FrameMeasure>(m);
  };
  const size_t each = measureBytes(*measure());
  store.budget = 3 * each;
  FrameMeasureKey k[4];
  for (int i = 0; i < 4; ++i) k[i].time = i;
  for (int i = 0; i < 3; ++i) keepMeasure(store, k[i], measure());
  ASSERT_TRUE(findMeasure(store, k[0]));  // now the most recent
  keepMeasure(store, k[3], measure());     // drops frame 1
  EXPECT_TRUE(findMeasure(store, k[0]) && findMeasure(store, k[2]) && findMeasure(store, k[3]));
  EXPECT_FALSE(findMeasure(store, k[1]));
  EXPECT_LE(store.bytes, store.budget);
  // Another generation is another measurement.
  FrameMeasureKey later = k[0];
  later.generation = 1;
  EXPECT_FALSE(findMeasure(store, later));
  store.budget = each - 1;  // larger than the whole budget: not kept
  keepMeasure(store, later, measure());
  EXPECT_FALSE(findMeasure(store, later));
}

TEST(AnalysisPlan, AClipRangeTooWideToSpanIsTheRenderedFrame) {
  // Its span overflows: without care the first frame is NaN, the rest infinite.
  AnalysisPlan p;
  AnalysisSettings range;
  range.choice = kAnalysisFrameRange;
  const double most = std::numeric_limits<double>::max();
  planAnalysis(range, 5.0, -most, most, p);
  EXPECT_EQ(p.frames, (std::vector<double>{5}));
}

TEST(FrameRange, OneLutForTheShotRebuiltOnlyWhenItsInputsChange) {
  Pan pan(8, kAnalysisFrameRange, true);
  ASSERT_EQ(pan.render(3.0), kOfxStatOK);
  const MatchLut *grid = publishedGrid(pan.l.inst);
  ASSERT_TRUE(grid != nullptr && grid->valid);
  // The shot's eight frames pooled as one picture.
  std::vector<const Image *> frames;
  for (auto &f : pan.source) frames.push_back(f.get());
  EXPECT_EQ(maxDifference(*grid, *pooledLut(frames, std::vector<float>(8, 1.0f), *pan.reference)), 0.0f);
  // Time moves on: the same LUT, and every frame rendered through it.
  for (double t : {0.0, 7.0, 5.0}) {
    ASSERT_EQ(pan.render(t), kOfxStatOK);
    EXPECT_EQ(publishedGrid(pan.l.inst), grid);
  }
  EXPECT_EQ(pan.builds(), 1u);

  // Each of these builds again.
  uint64_t builds = pan.builds();
  auto rebuilds = [&](const char *what) {
    ASSERT_EQ(pan.render(2.0), kOfxStatOK);
    EXPECT_EQ(pan.builds(), builds + 1) << what;
    builds = pan.builds();
  };
  pan.l.inst.setParam(kParamAnalysisFrames, 4);
  rebuilds("frames");
  pan.l.inst.setParam(kParamAnalysisStart, 1);
  rebuilds("start");
  pan.l.inst.setParam(kParamAnalysisEnd, 6);
  rebuilds("end");
  pan.l.inst.editParam(kParamPreserveMode, 1.0);
  rebuilds("preserve");
  pan.l.inst.editParam(kParamMatchMode, 1.0);
  rebuilds("mode");
  pan.l.inst.editParam(kParamMatchMode, 0.0);
  rebuilds("mode back");
  pan.l.inst.setImage(kClipSourceMask, picture(W, H, 9));  // a mask connected, without a word to the plug-in
  rebuilds("mask");
  pan.l.inst.instanceChanged(kParamRebuildButton);
  rebuilds("refresh");
  pan.l.inst.setParam(kParamAnalysis, kAnalysisRollingWindow);
  rebuilds("choice");
}

TEST(FrameRange, AReferenceThatChangesIsPooledFrameByFrame) {
  Pan pan(4, kAnalysisFrameRange);
  std::vector<std::shared_ptr<Image>> refs;
  std::vector<const Image *> sources, refPointers;
  for (int t = 0; t < 4; ++t) {
    refs.push_back(picture(W, H, 70 + 9 * t));
    pan.l.inst.setImage(kClipReference, t, refs.back());
    sources.push_back(pan.source[t].get());
    refPointers.push_back(refs.back().get());
  }
  ASSERT_EQ(pan.render(1.0), kOfxStatOK);
  EXPECT_EQ(maxDifference(*publishedGrid(pan.l.inst), *pooledLut(sources, {1, 1, 1, 1}, refPointers)), 0.0f);
}

TEST(FrameRange, AnAbortPartWayPublishesNothing) {
  Pan pan(8, kAnalysisFrameRange, true);
  pan.l.inst.abortAfter(3);  // two frames measured, then the host asks to stop
  ASSERT_EQ(pan.render(3.0), kOfxStatOK);
  EXPECT_EQ(pan.builds(), 0u);
  EXPECT_FALSE(publishedGrid(pan.l.inst)->valid);
  EXPECT_EQ(pan.l.inst.abortCalls(), 3);
  EXPECT_EQ(pan.l.inst.fetchedImages().size(), 4u);  // Source and Reference of frames 0 and 1
  EXPECT_TRUE(pan.l.inst.ledger().outstanding.empty());
  // The next render builds the whole shot, reusing the two frames measured.
  pan.l.inst.abortAfter(-1);
  ASSERT_EQ(pan.render(3.0), kOfxStatOK);
  EXPECT_EQ(pan.builds(), 1u);
  std::vector<const Image *> frames;
  for (auto &f : pan.source) frames.push_back(f.get());
  EXPECT_EQ(maxDifference(*publishedGrid(pan.l.inst), *pooledLut(frames, std::vector<float>(8, 1.0f), *pan.reference)),
            0.0f);
  long sourceFetches = 0;
  for (const tbhost::ImageRecord &r : pan.l.inst.fetchedImages()) sourceFetches += r.clip == kClipSource;
  EXPECT_EQ(sourceFetches, 2 + 6 + 1);
}

TEST(FrameRange, CopiesOfOneFrameGiveThatFramesLut) {
  Pan still(1, kAnalysisEveryFrame);
  ASSERT_EQ(still.render(0.0), kOfxStatOK);
  MatchLut single;
  single.allocate(kMatchLutSize);
  std::memcpy(single.data, publishedGrid(still.l.inst)->data, sizeof(float) * 3 * 65 * 65 * 65);

  Loaded l;
  for (int t = 0; t < 6; ++t) l.inst.setImage(kClipSource, t, still.source[0]);
  l.inst.setImage(kClipReference, still.reference);
  l.inst.setParam(kParamAnalysis, kAnalysisFrameRange);
  l.inst.setParam(kParamAnalysisEnd, 5);
  ASSERT_EQ(l.inst.render(4.0, kWhole), kOfxStatOK);
  EXPECT_LT(maxDifference(*publishedGrid(l.inst), single), 1e-5f);
}

TEST(RollingWindow, EachFrameIsMeasuredOnceAndWeightedTowardsItsCentre) {
  Pan pan(12, kAnalysisRollingWindow);
  pan.l.inst.setParam(kParamAnalysisWindow, 2);
  for (int t = 0; t < 6; ++t) ASSERT_EQ(pan.render(t), kOfxStatOK);
  // Frames 0..7 measured once each, plus the Source of each of the six renders.
  long sourceFetches = 0;
  for (const tbhost::ImageRecord &r : pan.l.inst.fetchedImages()) sourceFetches += r.clip == kClipSource;
  EXPECT_EQ(sourceFetches, 8 + 6);
  EXPECT_EQ(pan.builds(), 6u);
  // The LUT of frame 5 is frames 3..7 with the window's weights.
  std::vector<const Image *> frames;
  std::vector<float> weights;
  for (int f = 3; f <= 7; ++f) {
    frames.push_back(pan.source[f].get());
    weights.push_back(rollingWeight(f - 5, 2));
  }
  EXPECT_EQ(maxDifference(*publishedGrid(pan.l.inst), *pooledLut(frames, weights, *pan.reference)), 0.0f);
  EXPECT_EQ(pan.l.inst.ledger().outstanding.size(), 0u);
}

TEST(FrameRange, WithheldFramesAreLeftOutAndNoFramesIsEveryFrame) {
  // Frames 1 and 3 cannot be had: the LUT is that of 0, 2 and 4.
  Pan pan(5, kAnalysisFrameRange);
  pan.l.inst.clearImages(kClipSource);
  for (int t : {0, 2, 4}) pan.l.inst.setImage(kClipSource, t, pan.source[t]);
  ASSERT_EQ(pan.render(2.0), kOfxStatOK);
  const std::vector<const Image *> given = {pan.source[0].get(), pan.source[2].get(), pan.source[4].get()};
  EXPECT_EQ(maxDifference(*publishedGrid(pan.l.inst), *pooledLut(given, {1, 1, 1}, *pan.reference)), 0.0f);

  // A range where the host has nothing renders as Every Frame does.
  Pan every(5, kAnalysisEveryFrame);
  ASSERT_EQ(every.render(2.0), kOfxStatOK);
  pan.l.inst.setParam(kParamAnalysisStart, 100);
  pan.l.inst.setParam(kParamAnalysisEnd, 120);
  pan.l.inst.clearImages(kClipSource);
  pan.l.inst.setImage(kClipSource, 2.0, pan.source[2]);
  ASSERT_EQ(pan.render(2.0), kOfxStatOK);
  EXPECT_EQ(maxDifference(*publishedGrid(pan.l.inst), *publishedGrid(every.l.inst)), 0.0f);
}

TEST(FramesNeeded, TheAnalysedFramesOrTheHostsDefault) {
  Pan pan(48, kAnalysisEveryFrame);
  auto ask = [&](double time, std::vector<double> &source, std::vector<double> &reference) {
    tbhost::PropertySet in, out;
    in.defineDouble(kOfxPropTime, {time});
    for (const char *clip : {kClipSource, kClipReference, kClipSourceMask, kClipReferenceMask})
      out.defineDouble(std::string(kOfxImageClipPropFrameRange) + clip, {time, time}, 0);
    const OfxStatus s = pan.l.inst.callAction(kOfxImageEffectActionGetFramesNeeded, &in, &out);
    source = out.getDoubles(std::string(kOfxImageClipPropFrameRange) + kClipSource);
    reference = out.getDoubles(std::string(kOfxImageClipPropFrameRange) + kClipReferenceMask);
    return s;
  };
  std::vector<double> source, other;
  EXPECT_EQ(ask(5.0, source, other), kOfxStatReplyDefault);
  EXPECT_EQ(source, (std::vector<double>{5, 5}));

  pan.l.inst.setParam(kParamAnalysis, kAnalysisFrameRange);
  pan.l.inst.setParam(kParamAnalysisFrames, 3);
  EXPECT_EQ(ask(4.0, source, other), kOfxStatOK);
  EXPECT_EQ(other, (std::vector<double>{0, 0, 24, 24, 47, 47}));
  // The Source also at the rendered frame.
  EXPECT_EQ(source, (std::vector<double>{0, 0, 4, 4, 24, 24, 47, 47}));
  EXPECT_EQ(ask(24.0, source, other), kOfxStatOK);
  EXPECT_EQ(source, other);

  pan.l.inst.setParam(kParamAnalysis, kAnalysisRollingWindow);
  pan.l.inst.setParam(kParamAnalysisWindow, 5);
  EXPECT_EQ(ask(2.0, source, other), kOfxStatOK);
  EXPECT_EQ(other, (std::vector<double>{0, 7}));
  EXPECT_EQ(source, other);
}

TEST(TemporalAccess, AHostWithoutItGetsEveryFrameAndOneLineAnInstance) {
  for (bool absent : {false, true}) {
    tbhost::StderrCapture capture;
    tbhost::Host host(TINTBRIDGE_BUNDLE_BINARY);
    if (absent)
      host.hostProperties().remove(kOfxImageEffectPropTemporalClipAccess);
    else
      host.hostProperties().defineInt(kOfxImageEffectPropTemporalClipAccess, {0});
    ASSERT_EQ(host.load(), kOfxStatOK);
    std::vector<std::shared_ptr<Image>> out;
    for (int choice : {kAnalysisEveryFrame, kAnalysisFrameRange, kAnalysisRollingWindow}) {
      tbhost::Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
      for (int t = 0; t < 4; ++t) inst.setImage(kClipSource, t, panFrame(t));
      inst.setImage(kClipReference, picture(W, H, 70));
      inst.setParam(kParamAnalysis, choice);
      ASSERT_EQ(inst.render(2.0, kWhole), kOfxStatOK);
      out.push_back(inst.image(kClipOutput, 2.0));
      EXPECT_EQ(inst.fetchedImages().size(), 3u) << choice;  // Source, Reference and Output at 2 only
    }
    for (size_t i = 1; i < out.size(); ++i)
      EXPECT_EQ(std::memcmp(out[0]->data(), out[i]->data(), static_cast<size_t>(W) * H * 16), 0);
    EXPECT_EQ(capture.linesStartingWith("Tintbridge: host has no temporal clip access").size(), 3u);
  }
}

}  // namespace
