// Render speed through the built module: the pixel loop with a valid LUT, and
// a render that rebuilds the LUT at every call (a new frame time each).
#include <benchmark/benchmark.h>

#include <cmath>

#include "host/Host.h"
#include "plugin/Names.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

std::shared_ptr<tbhost::Image> photo(int seed) {
  auto img = tbhost::Image::rgbaFloat(kWidth, kHeight);
  float *p = static_cast<float *>(img->data());
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x, p += 4) {
      for (int c = 0; c < 3; ++c)
        p[c] = 0.5f + 0.45f * std::sin(0.004f * static_cast<float>(x * (c + 1) + seed) +
                                      0.006f * static_cast<float>(y + 40 * c));
      p[3] = 1.0f;
    }
  return img;
}

struct Session {
  tbhost::Host host{TINTBRIDGE_BUNDLE_BINARY};
  tbhost::Instance inst;
  Session(int mode) {
    host.load();
    inst = host.createInstance(kOfxImageEffectContextGeneral);
    inst.setImage(kClipSource, photo(1));
    inst.setImage(kClipReference, photo(900));
    inst.setImage(kClipOutput, tbhost::Image::rgbaFloat(kWidth, kHeight));
    inst.setParam(kParamMatchMode, mode);
    inst.setParam(kParamStrength, 0.9);
  }
};

void BM_RenderPixelLoop(benchmark::State &state) {
  Session s(0);
  s.inst.render(0.0, OfxRectI{0, 0, kWidth, kHeight});
  for (auto _ : state) s.inst.render(0.0, OfxRectI{0, 0, kWidth, kHeight});
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
  state.counters["Mpx/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kWidth * kHeight / 1e6,
                                               benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderPixelLoop)->Unit(benchmark::kMillisecond);

void BM_RenderWithRebuild(benchmark::State &state) {
  Session s(static_cast<int>(state.range(0)));
  double time = 0.0;
  for (auto _ : state) s.inst.render(time += 1.0, OfxRectI{0, 0, kWidth, kHeight});
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_RenderWithRebuild)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
