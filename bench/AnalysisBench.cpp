// Analysis over several frames, through the built module.
//
// Steadiness: a camera pan cut from one photograph (960x540 windows moving
// 4 px a frame over 48 frames), matched to a still photograph with each
// "analysis" choice. Flicker is the mean CIEDE2000 between consecutive output
// frames over the photograph pixels both show. Each output is also compared
// with the match built from the photograph at once: the whole of it
// (vsWholePhoto) and the strip of it that the pan shows (vsShownStrip).
// Reported as counters, one iteration each.
//
// Speed at 1920x1080: the pixel loop alone, a Frame Range render once the
// shot is analysed, the first Frame Range analysis of 12 frames, an Every
// Frame render that rebuilds, and a Rolling Window render stepping forward
// one frame. Times are the process's CPU time (cpuMs); pin the process to
// one core (taskset -c 0) for figures of one core.
//
// The pictures are the demo's sample photographs (coffee.png for the pan,
// rocket.jpg as the Reference, from TINTBRIDGE_SAMPLE_CACHE or
// ~/.cache/tintbridge-samples), scaled up bilinearly where a frame needs
// more pixels. Without them, synthetic pictures stand in, and every
// benchmark's label says so.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <time.h>

#include "bench/DeltaE.h"
#include "host/Host.h"
#include "plugin/Names.h"

#if TINTBRIDGE_BENCH_PHOTOS
#include "cli/ImageFile.h"
#endif

namespace {

// Float RGBA, top row first.
struct Photo {
  int width = 0;
  int height = 0;
  std::vector<float> rgba;

  float *pixel(int x, int y) { return rgba.data() + (static_cast<size_t>(y) * width + x) * 4; }
  const float *pixel(int x, int y) const { return rgba.data() + (static_cast<size_t>(y) * width + x) * 4; }
};

Photo blankPhoto(int width, int height) {
  Photo p;
  p.width = width;
  p.height = height;
  p.rgba.assign(static_cast<size_t>(width) * height * 4, 1.0f);
  return p;
}

std::string sampleFolder() {
  if (const char *dir = std::getenv("TINTBRIDGE_SAMPLE_CACHE"); dir && *dir) return dir;
  if (const char *dir = std::getenv("XDG_CACHE_HOME"); dir && *dir) return std::string(dir) + "/tintbridge-samples";
  if (const char *home = std::getenv("HOME"); home && *home) return std::string(home) + "/.cache/tintbridge-samples";
  return std::string();
}

bool loadSample(const std::string &name, Photo &photo) {
#if TINTBRIDGE_BENCH_PHOTOS
  const std::string folder = sampleFolder();
  if (folder.empty()) return false;
  tbcli::Picture picture;
  std::string error;
  if (!tbcli::readPicture(folder + "/" + name, picture, error)) return false;
  picture = tbcli::uprightPicture(picture);
  photo.width = picture.width;
  photo.height = picture.height;
  photo.rgba = std::move(picture.rgba);
  for (size_t i = 3; i < photo.rgba.size(); i += 4) photo.rgba[i] = 1.0f;
  return true;
#else
  (void)name;
  (void)photo;
  return false;
#endif
}

// A stand-in with the structure of a photograph: a graded sky over hills,
// coloured discs with soft edges, and fine texture.
Photo syntheticPhoto(int width, int height, unsigned seed) {
  Photo p = blankPhoto(width, height);
  struct Disc {
    float x, y, r, rgb[3];
  };
  std::vector<Disc> discs;
  unsigned state = seed * 2654435761u + 1u;
  auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / 16777216.0f;
  };
  for (int i = 0; i < 14; ++i)
    discs.push_back({next() * width, next() * height, (0.04f + 0.12f * next()) * height, {next(), next(), next()}});
  const float tint = next();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const float u = static_cast<float>(x) / width, v = static_cast<float>(y) / height;
      const float horizon = 0.55f + 0.08f * std::sin(6.0f * u + tint * 3.0f) + 0.03f * std::sin(23.0f * u);
      float rgb[3];
      if (v < horizon) {
        rgb[0] = 0.35f + 0.3f * v + 0.2f * tint;
        rgb[1] = 0.5f + 0.25f * v;
        rgb[2] = 0.85f - 0.2f * v;
      } else {
        const float d = v - horizon;
        rgb[0] = 0.45f - 0.3f * d + 0.1f * tint;
        rgb[1] = 0.38f + 0.1f * std::sin(40.0f * u) * d;
        rgb[2] = 0.2f + 0.1f * tint;
      }
      for (const Disc &c : discs) {
        const float dist = std::hypot(x - c.x, y - c.y);
        const float w = std::clamp((c.r - dist) / (0.08f * c.r), 0.0f, 1.0f);
        for (int k = 0; k < 3; ++k) rgb[k] += w * (c.rgb[k] - rgb[k]);
      }
      const float grain = 0.03f * std::sin(0.9f * x + 0.3f * y) * std::sin(0.7f * y - 0.2f * x);
      float *o = p.pixel(x, y);
      for (int k = 0; k < 3; ++k) o[k] = std::clamp(rgb[k] + grain, 0.0f, 1.0f);
    }
  return p;
}

// Bilinear resampling to width x height (pixel centres mapped onto each other).
Photo resized(const Photo &from, int width, int height) {
  if (from.width == width && from.height == height) return from;
  Photo to = blankPhoto(width, height);
  const float sx = static_cast<float>(from.width) / width, sy = static_cast<float>(from.height) / height;
  for (int y = 0; y < height; ++y) {
    const float fy = std::clamp((y + 0.5f) * sy - 0.5f, 0.0f, static_cast<float>(from.height - 1));
    const int y0 = static_cast<int>(fy), y1 = std::min(y0 + 1, from.height - 1);
    const float wy = fy - y0;
    for (int x = 0; x < width; ++x) {
      const float fx = std::clamp((x + 0.5f) * sx - 0.5f, 0.0f, static_cast<float>(from.width - 1));
      const int x0 = static_cast<int>(fx), x1 = std::min(x0 + 1, from.width - 1);
      const float wx = fx - x0;
      const float *a = from.pixel(x0, y0), *b = from.pixel(x1, y0), *c = from.pixel(x0, y1), *d = from.pixel(x1, y1);
      float *o = to.pixel(x, y);
      for (int k = 0; k < 3; ++k)
        o[k] = (1 - wy) * ((1 - wx) * a[k] + wx * b[k]) + wy * ((1 - wx) * c[k] + wx * d[k]);
    }
  }
  return to;
}

// Scaled up just enough to cover width x height (never down).
Photo covering(const Photo &photo, int width, int height) {
  const double scale = std::max({1.0, static_cast<double>(width) / photo.width, static_cast<double>(height) / photo.height});
  if (scale == 1.0) return photo;
  return resized(photo, std::max(width, static_cast<int>(std::ceil(photo.width * scale))),
                 std::max(height, static_cast<int>(std::ceil(photo.height * scale))));
}

Photo cropped(const Photo &photo, int x0, int y0, int width, int height) {
  Photo out = blankPhoto(width, height);
  for (int y = 0; y < height; ++y)
    std::copy_n(photo.pixel(x0, y0 + y), static_cast<size_t>(width) * 4, out.pixel(0, y));
  return out;
}

// The part of a photo at (x0, y0) (from its top left) as a clip image, whose
// rows go bottom-up.
std::shared_ptr<tbhost::Image> clipImage(const Photo &photo, int x0, int y0, int width, int height) {
  auto image = tbhost::Image::rgbaFloat(width, height);
  for (int y = 0; y < height; ++y)
    std::copy_n(photo.pixel(x0, y0 + y), static_cast<size_t>(width) * 4,
                reinterpret_cast<float *>(image->pixelAddress(0, height - 1 - y)));
  return image;
}

tbbench::LabImage labOf(const tbhost::Image &image) {
  const OfxRectI &b = image.bounds();
  return tbbench::labImageOf(image.width(), image.height(),
                             reinterpret_cast<const float *>(image.pixelAddress(b.x1, b.y2 - 1)),
                             -static_cast<std::ptrdiff_t>(image.rowBytes() / static_cast<int>(sizeof(float))));
}

// The pan's photograph and the Reference still, loaded once.
struct Pictures {
  Photo pan;
  Photo reference;
  std::string label;
};

const Pictures &pictures() {
  static const Pictures p = [] {
    if (const std::string problem = tbbench::deltaEProblem(); !problem.empty()) {
      std::fprintf(stderr, "AnalysisBench: the colour difference is wrong: %s\n", problem.c_str());
      std::abort();
    }
    Pictures out;
    if (loadSample("coffee.png", out.pan) && loadSample("rocket.jpg", out.reference)) {
      out.label = "coffee.png pan, rocket.jpg Reference";
    } else {
      out.pan = syntheticPhoto(1200, 800, 1);
      out.reference = syntheticPhoto(640, 427, 7);
      out.label = "SYNTHETIC pictures (no samples in " + sampleFolder() + "; run ./run demo to fetch them)";
    }
    return out;
  }();
  return p;
}

void setAnalysis(tbhost::Instance &inst, int analysis, int start, int end, int frames, int window) {
  inst.setParam(kParamAnalysis, analysis);
  inst.setParam(kParamAnalysisStart, start);
  inst.setParam(kParamAnalysisEnd, end);
  inst.setParam(kParamAnalysisFrames, frames);
  inst.setParam(kParamAnalysisWindow, window);
}

// ---------------------------------------------------------------- steadiness

constexpr int kPanWidth = 960;
constexpr int kPanHeight = 540;
constexpr int kPanFrames = 48;
constexpr int kPanStep = 4;  // pixels a frame, to the right
constexpr int kPanAnalysisFrames = 12;
constexpr int kPanWindow = 12;

void BM_PanSteadiness(benchmark::State &state) {
  const int analysis = static_cast<int>(state.range(0));
  const Pictures &pics = pictures();
  const Photo photo = covering(pics.pan, kPanWidth + kPanStep * (kPanFrames - 1), kPanHeight);
  const int top = (photo.height - kPanHeight) / 2;
  const auto reference = clipImage(pics.reference, 0, 0, pics.reference.width, pics.reference.height);

  // The photograph matched as one picture: all of it, and the strip the pan
  // shows (what a match of the shot measured at once would see).
  const Photo strip = cropped(photo, 0, top, photo.width, kPanHeight);
  auto matchedAtOnce = [&](tbhost::Host &host, const Photo &source) {
    tbhost::Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
    inst.setImage(kClipSource, clipImage(source, 0, 0, source.width, source.height));
    inst.setImage(kClipReference, reference);
    inst.setImage(kClipOutput, tbhost::Image::rgbaFloat(source.width, source.height));
    inst.render(0.0, OfxRectI{0, 0, source.width, source.height});
    tbbench::LabImage out = labOf(*inst.image(kClipOutput, 0.0));
    inst.destroy();
    return out;
  };

  std::vector<double> pairs;
  double vsWhole = 0.0, vsStrip = 0.0;
  for (auto _ : state) {
    tbhost::Host host(TINTBRIDGE_BUNDLE_BINARY);
    host.load();
    const tbbench::LabImage whole = matchedAtOnce(host, photo);
    const tbbench::LabImage shown = matchedAtOnce(host, strip);

    tbhost::Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
    for (int k = 0; k < kPanFrames; ++k)
      inst.setImage(kClipSource, k, clipImage(photo, k * kPanStep, top, kPanWidth, kPanHeight));
    inst.setImage(kClipReference, reference);
    inst.setImage(kClipOutput, tbhost::Image::rgbaFloat(kPanWidth, kPanHeight));
    setAnalysis(inst, analysis, 0, kPanFrames - 1, kPanAnalysisFrames, kPanWindow);

    pairs.clear();
    double wholeSum = 0.0, stripSum = 0.0;
    tbbench::LabImage previous;
    for (int k = 0; k < kPanFrames; ++k) {
      inst.render(k, OfxRectI{0, 0, kPanWidth, kPanHeight});
      tbbench::LabImage frame = labOf(*inst.image(kClipOutput, k));
      if (k > 0) pairs.push_back(tbbench::panDifference(previous, frame, kPanStep, 0));
      for (int y = 0; y < kPanHeight; ++y)
        for (int x = 0; x < kPanWidth; ++x) {
          wholeSum += tbbench::ciede2000(frame.at(x, y), whole.at(k * kPanStep + x, top + y));
          stripSum += tbbench::ciede2000(frame.at(x, y), shown.at(k * kPanStep + x, y));
        }
      previous = std::move(frame);
    }
    const double pixels = static_cast<double>(kPanFrames) * kPanWidth * kPanHeight;
    vsWhole = wholeSum / pixels;
    vsStrip = stripSum / pixels;
  }
  double sum = 0.0, worst = 0.0;
  for (double d : pairs) {
    sum += d;
    worst = std::max(worst, d);
  }
  state.counters["flicker"] = pairs.empty() ? 0.0 : sum / static_cast<double>(pairs.size());
  state.counters["worstPair"] = worst;
  state.counters["vsWholePhoto"] = vsWhole;
  state.counters["vsShownStrip"] = vsStrip;
  state.SetLabel(pics.label);
}
BENCHMARK(BM_PanSteadiness)
    ->ArgName("analysis")
    ->Arg(kAnalysisEveryFrame)
    ->Arg(kAnalysisFrameRange)
    ->Arg(kAnalysisRollingWindow)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// --------------------------------------------------------------------- speed

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kDistinctFrames = 16;  // pan frames; later times reuse them
constexpr int kTimes = 1024;         // times with a Source image
constexpr int kRangeEnd = 47;
constexpr int kRangeFrames = 12;
constexpr int kRollingWindow = 12;
const OfxRectI kFull{0, 0, kWidth, kHeight};

struct SpeedPictures {
  std::vector<std::shared_ptr<tbhost::Image>> frames;
  std::shared_ptr<tbhost::Image> reference;
};

const SpeedPictures &speedPictures() {
  static const SpeedPictures p = [] {
    const Pictures &pics = pictures();
    SpeedPictures out;
    const Photo pan = covering(pics.pan, kWidth + kPanStep * (kDistinctFrames - 1), kHeight);
    const int top = (pan.height - kHeight) / 2;
    for (int k = 0; k < kDistinctFrames; ++k) out.frames.push_back(clipImage(pan, k * kPanStep, top, kWidth, kHeight));
    const Photo ref = covering(pics.reference, kWidth, kHeight);
    out.reference = clipImage(ref, (ref.width - kWidth) / 2, (ref.height - kHeight) / 2, kWidth, kHeight);
    return out;
  }();
  return p;
}

// Milliseconds a render, measured by the benchmarks that the ratios divide by.
double gPixelLoopMs = 0.0;
double gRebuildMs = 0.0;

struct SpeedSession {
  tbhost::Host host{TINTBRIDGE_BUNDLE_BINARY};
  tbhost::Instance inst;
  explicit SpeedSession(int analysis) {
    host.load();
    open(analysis);
  }
  void open(int analysis) {
    const SpeedPictures &pics = speedPictures();
    inst = host.createInstance(kOfxImageEffectContextGeneral);
    for (int t = 0; t < kTimes; ++t) inst.setImage(kClipSource, t, pics.frames[t % kDistinctFrames]);
    inst.setImage(kClipReference, pics.reference);
    inst.setImage(kClipOutput, tbhost::Image::rgbaFloat(kWidth, kHeight));
    setAnalysis(inst, analysis, 0, kRangeEnd, kRangeFrames, kRollingWindow);
  }
};

// CPU time of the whole process, so that renders on other threads count and
// other work on a shared machine does not.
double cpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return 1e3 * static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_nsec);
}

void finish(benchmark::State &state, double totalMs) {
  state.counters["cpuMs"] = state.iterations() ? totalMs / static_cast<double>(state.iterations()) : 0.0;
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
  state.SetLabel(pictures().label);
}

// The pixel loop alone: the same frame again with a valid LUT.
void BM_SpeedPixelLoop(benchmark::State &state) {
  SpeedSession s(kAnalysisEveryFrame);
  s.inst.render(0.0, kFull);
  double total = 0.0;
  for (auto _ : state) {
    const double start = cpuMs();
    s.inst.render(0.0, kFull);
    total += cpuMs() - start;
  }
  finish(state, total);
  gPixelLoopMs = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SpeedPixelLoop)->Unit(benchmark::kMillisecond);

// Frame Range once the shot is analysed: other frames of the range.
void BM_SpeedFrameRangeRender(benchmark::State &state) {
  SpeedSession s(kAnalysisFrameRange);
  s.inst.render(0.0, kFull);
  double total = 0.0;
  int t = 0;
  for (auto _ : state) {
    t = t == kRangeEnd ? 0 : t + 1;
    const double start = cpuMs();
    s.inst.render(t, kFull);
    total += cpuMs() - start;
  }
  finish(state, total);
  if (gPixelLoopMs > 0.0) state.counters["vsPixelLoop"] = total / static_cast<double>(state.iterations()) / gPixelLoopMs;
}
BENCHMARK(BM_SpeedFrameRangeRender)->Unit(benchmark::kMillisecond);

// The first render of a new instance in Frame Range: the analysis of 12
// frames, the LUT build and the pixel loop. `analysisMs` is what it takes
// beyond the pixel loop (our host hands the images over without copying).
void BM_SpeedFrameRangeFirst(benchmark::State &state) {
  SpeedSession s(kAnalysisFrameRange);
  double total = 0.0;
  for (auto _ : state) {
    state.PauseTiming();
    s.inst.destroy();
    s.open(kAnalysisFrameRange);
    state.ResumeTiming();
    const double start = cpuMs();
    s.inst.render(0.0, kFull);
    total += cpuMs() - start;
  }
  finish(state, total);
  if (gPixelLoopMs > 0.0) state.counters["analysisMs"] = total / static_cast<double>(state.iterations()) - gPixelLoopMs;
}
BENCHMARK(BM_SpeedFrameRangeFirst)->Unit(benchmark::kMillisecond);

// Every Frame at a new frame each render: one frame measured, the LUT rebuilt.
void BM_SpeedEveryFrameRebuild(benchmark::State &state) {
  SpeedSession s(kAnalysisEveryFrame);
  s.inst.render(0.0, kFull);
  double total = 0.0;
  int t = 0;
  for (auto _ : state) {
    t = t + 1 == kTimes ? 1 : t + 1;
    const double start = cpuMs();
    s.inst.render(t, kFull);
    total += cpuMs() - start;
  }
  finish(state, total);
  gRebuildMs = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SpeedEveryFrameRebuild)->Unit(benchmark::kMillisecond);

// Rolling Window (12 frames each side) playing forward one frame a render.
void BM_SpeedRollingStep(benchmark::State &state) {
  SpeedSession s(kAnalysisRollingWindow);
  int t = kRollingWindow;
  s.inst.render(t, kFull);
  double total = 0.0;
  for (auto _ : state) {
    if (++t + kRollingWindow >= kTimes) {  // back to the start: not a step, untimed
      state.PauseTiming();
      t = kRollingWindow;
      s.inst.render(t++, kFull);
      state.ResumeTiming();
    }
    const double start = cpuMs();
    s.inst.render(t, kFull);
    total += cpuMs() - start;
  }
  finish(state, total);
  if (gRebuildMs > 0.0)
    state.counters["vsEveryFrameRebuild"] = total / static_cast<double>(state.iterations()) / gRebuildMs;
}
BENCHMARK(BM_SpeedRollingStep)->Unit(benchmark::kMillisecond);

}  // namespace
