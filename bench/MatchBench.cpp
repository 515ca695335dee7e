// Rebuild times of the two LUT builders at 1920 x 1080, the statistics alone,
// and the same builds with the smoothing summed window by window.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "support/LiteralSmoothing.h"
#include "lut/MatchLut.h"
#include "match/ClipStats.h"
#include "match/LutBuilders.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kRowBytes = kWidth * 16;

struct Frames {
  std::vector<float> source, reference, sourceMask, referenceMask;
  MaskView sourceView{}, referenceView{};
  Frames() : source(kWidth * kHeight * 4), reference(kWidth * kHeight * 4), sourceMask(kWidth * kHeight),
             referenceMask(kWidth * kHeight) {
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const float u = static_cast<float>(x) / kWidth, v = static_cast<float>(y) / kHeight;
        float *s = &source[(static_cast<size_t>(y) * kWidth + x) * 4];
        float *q = &reference[(static_cast<size_t>(y) * kWidth + x) * 4];
        s[0] = 0.5f + 0.45f * std::sin(6.0f * u + 2.0f * v);
        s[1] = 0.5f + 0.45f * std::sin(4.0f * v - 3.0f * u + 1.0f);
        s[2] = 0.5f + 0.45f * std::cos(5.0f * u * v + 3.0f * v);
        s[3] = 1.0f;
        q[0] = 0.85f * std::pow(s[0], 1.15f) + 0.08f;
        q[1] = 1.05f * std::pow(s[1], 0.85f) - 0.03f;
        q[2] = 0.9f * s[2] + 0.06f;
        q[3] = 1.0f;
        sourceMask[static_cast<size_t>(y) * kWidth + x] = u < 0.7f ? 1.0f : 0.0f;
        referenceMask[static_cast<size_t>(y) * kWidth + x] = v > 0.2f ? 1.0f : 0.25f;
      }
    sourceView = {sourceMask.data(), kWidth, kHeight, kWidth * 4, 1};
    referenceView = {referenceMask.data(), kWidth, kHeight, kWidth * 4, 1};
  }
};

const Frames &frames() {
  static const Frames f;
  return f;
}

void differentClips(MatchLut &lut, PreserveMode preserve, bool masks, float smoothing) {
  const Frames &f = frames();
  lut.allocate(65);
  buildDifferentClipsLut(ImageView{f.source.data(), kWidth, kHeight, kRowBytes, 4}, ImageView{f.reference.data(), kWidth, kHeight, kRowBytes, 4}, lut, smoothing, kColorSpaceLab, preserve, masks ? &f.sourceView : nullptr, masks ? &f.referenceView : nullptr);
}

void sameFrame(MatchLut &lut, PreserveMode preserve, float smoothing) {
  const Frames &f = frames();
  lut.allocate(65);
  buildSameFrameLut(ImageView{f.source.data(), kWidth, kHeight, kRowBytes, 4}, ImageView{f.reference.data(), kWidth, kHeight, kRowBytes, 4}, lut, smoothing, preserve);
}

void BM_DifferentClips(benchmark::State &state) {
  MatchLut lut;
  differentClips(lut, 0, false, 5.0f);  // first use fills the process-wide grid Lab table
  for (auto _ : state) {
    differentClips(lut, static_cast<PreserveMode>(state.range(0)), state.range(1) != 0, 5.0f);
    benchmark::DoNotOptimize(lut.data[0]);
  }
}
BENCHMARK(BM_DifferentClips)->ArgNames({"preserve", "masks"})->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

void BM_SameFrame(benchmark::State &state) {
  MatchLut lut;
  for (auto _ : state) {
    sameFrame(lut, static_cast<PreserveMode>(state.range(0)), 5.0f);
    benchmark::DoNotOptimize(lut.data[0]);
  }
}
BENCHMARK(BM_SameFrame)->ArgName("preserve")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

void BM_ClipStats(benchmark::State &state) {
  const Frames &f = frames();
  const MaskView *mask = state.range(0) != 0 ? &f.sourceView : nullptr;
  for (auto _ : state) {
    ClipStats stats;
    computeClipStats(ImageView{f.source.data(), kWidth, kHeight, kRowBytes, 4}, kColorSpaceLab, stats, mask);
    benchmark::DoNotOptimize(stats);
  }
}
BENCHMARK(BM_ClipStats)->ArgName("mask")->DenseRange(0, 1)->Unit(benchmark::kMicrosecond);

// Different Clips with its interior smoothing summed window by window.
void BM_DifferentClipsLiteralSmoothing(benchmark::State &state) {
  MatchLut lut;
  std::vector<float> smoothed(65 * 65 * 65 * 3);
  for (auto _ : state) {
    differentClips(lut, static_cast<PreserveMode>(state.range(0)), false, 0.0f);
    literalBoxMean(lut.data, smoothed.data(), 65, 5, 3, true);
    benchmark::DoNotOptimize(smoothed[0]);
  }
}
BENCHMARK(BM_DifferentClipsLiteralSmoothing)->ArgName("preserve")->DenseRange(0, 2)->Iterations(2)
    ->Unit(benchmark::kMillisecond);

// Same Frame with both of its boxes (the sample-weighted window mean over
// four channels, then the fade over three) summed window by window.
void BM_SameFrameLiteralSmoothing(benchmark::State &state) {
  MatchLut lut;
  std::vector<float> filed(65 * 65 * 65 * 4, 0.25f), windowed(65 * 65 * 65 * 4), field(65 * 65 * 65 * 3),
      faded(65 * 65 * 65 * 3);
  for (auto _ : state) {
    sameFrame(lut, 0, 0.0f);
    literalBoxMean(filed.data(), windowed.data(), 65, 5, 4, false);
    for (size_t c = 0; c < field.size() / 3; ++c)
      for (int ch = 0; ch < 3; ++ch) field[c * 3 + ch] = windowed[c * 4 + ch] / windowed[c * 4 + 3];
    literalBoxMean(field.data(), faded.data(), 65, 5, 3, false);
    benchmark::DoNotOptimize(faded[0]);
  }
}
BENCHMARK(BM_SameFrameLiteralSmoothing)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace
