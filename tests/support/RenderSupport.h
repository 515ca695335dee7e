// Shared helpers for tests that render through the built module.
#ifndef TINTBRIDGE_TESTS_RENDER_SUPPORT_H
#define TINTBRIDGE_TESTS_RENDER_SUPPORT_H

#include <cmath>
#include <memory>

#include "host/Host.h"
#include "plugin/MatchInstance.h"

namespace rendertest {

inline float wave(int x, int y, int c, int seed) {
  const float v = 0.5f + 0.45f * std::sin(0.13f * static_cast<float>(x + 3 * c + seed) +
                                          0.07f * static_cast<float>(y * (c + 1) + seed));
  return v;
}

// A smooth float RGBA picture with varied colours; alpha 0.75.
inline std::shared_ptr<tbhost::Image> picture(int w, int h, int seed, OfxRectI bounds = {0, 0, 0, 0},
                                              tbhost::PixelDepth depth = tbhost::PixelDepth::Float,
                                              tbhost::Components comps = tbhost::Components::RGBA,
                                              tbhost::ImageLayout layout = tbhost::ImageLayout()) {
  if (bounds.x2 == 0 && bounds.y2 == 0) bounds = OfxRectI{0, 0, w, h};
  auto img = tbhost::Image::create(depth, comps, bounds, layout);
  for (int y = bounds.y1; y < bounds.y2; ++y)
    for (int x = bounds.x1; x < bounds.x2; ++x) {
      for (int c = 0; c < 3; ++c) img->set(x, y, c, wave(x - bounds.x1, y - bounds.y1, c, seed));
      img->set(x, y, 3, 0.75f);
    }
  return img;
}

inline MatchInstance *record(const tbhost::Instance &inst) {
  return static_cast<MatchInstance *>(inst.instanceData());
}

// The grid the instance publishes now; changes exactly when a render rebuilt.
inline const MatchLut *publishedGrid(const tbhost::Instance &inst) {
  MatchInstance *r = record(inst);
  return r ? r->lut.get() : nullptr;
}

struct Loaded {
  tbhost::Host host{TINTBRIDGE_BUNDLE_BINARY};
  tbhost::Instance inst;
  explicit Loaded(const char *context = kOfxImageEffectContextGeneral) {
    host.load();
    inst = host.createInstance(context);
  }
};

}  // namespace rendertest

#endif
