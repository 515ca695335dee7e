// Several threads render tiles of one instance at several times while others
// invalidate its LUT; every tile must equal a single-threaded render of its
// time. Run under ThreadSanitizer by the sanitizer build.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/RenderSupport.h"
#include "plugin/Names.h"

using namespace rendertest;
using tbhost::Components;
using tbhost::Image;
using tbhost::PixelDepth;

namespace {

constexpr int W = 64;
constexpr int H = 40;
constexpr int kTimes = 3;
constexpr int kTilesX = 4;
constexpr int kTilesY = 2;

OfxRectI tileRect(int tile) {
  const int tx = tile % kTilesX, ty = tile / kTilesX;
  return OfxRectI{tx * W / kTilesX, ty * H / kTilesY, (tx + 1) * W / kTilesX, (ty + 1) * H / kTilesY};
}

void setInputs(tbhost::Instance &inst) {
  for (int t = 0; t < kTimes; ++t) {
    inst.setImage(kClipSource, t, picture(W, H, 3 + 11 * t));
    inst.setImage(kClipReference, t, picture(W, H, 50 + 7 * t));
  }
}

TEST(ConcurrentRender, TilesAtSeveralTimesMatchSingleThreadedRenders) {
  for (int mode : {0, 1}) {
    // Expected pictures, one render per time on a quiet instance.
    Loaded quiet;
    setInputs(quiet.inst);
    quiet.inst.setParam(kParamMatchMode, mode);
    std::vector<std::shared_ptr<Image>> expected;
    for (int t = 0; t < kTimes; ++t) {
      ASSERT_EQ(quiet.inst.render(t, OfxRectI{0, 0, W, H}), kOfxStatOK);
      expected.push_back(quiet.inst.image(kClipOutput, t));
    }

    Loaded busy;
    setInputs(busy.inst);
    busy.inst.setParam(kParamMatchMode, mode);
    const int kRenderThreads = 4;
    for (int round = 0; round < 3; ++round) {
      for (int t = 0; t < kTimes; ++t)
        busy.inst.setImage(kClipOutput, t, Image::create(PixelDepth::Float, Components::RGBA, OfxRectI{0, 0, W, H}));
      std::atomic<bool> rendering{true};
      std::atomic<int> failures{0};
      std::vector<std::thread> threads;
      for (int k = 0; k < kRenderThreads; ++k) {
        threads.emplace_back([&, k] {
          // Each (time, tile) pair belongs to one thread; threads visit the
          // times in different orders so that builds overlap.
          for (int i = 0; i < kTimes; ++i) {
            const int t = (i + k) % kTimes;
            for (int tile = k; tile < kTilesX * kTilesY; tile += kRenderThreads)
              if (busy.inst.render(t, tileRect(tile)) != kOfxStatOK) ++failures;
          }
        });
      }
      std::thread invalidator([&] {
        int n = 0;
        while (rendering.load()) {
          busy.inst.instanceChanged(n % 2 ? "rebuildButton" : "Reference", n % 2 ? kOfxTypeParameter : kOfxTypeClip);
          ++n;
          std::this_thread::yield();
        }
      });
      for (auto &th : threads) th.join();
      rendering = false;
      invalidator.join();
      ASSERT_EQ(failures.load(), 0);
      for (int t = 0; t < kTimes; ++t) {
        auto out = busy.inst.image(kClipOutput, t);
        for (int y = 0; y < H; ++y)
          for (int x = 0; x < W; ++x)
            for (int c = 0; c < 4; ++c)
              ASSERT_EQ(out->get(x, y, c), expected[t]->get(x, y, c))
                  << "mode " << mode << " round " << round << " time " << t << " at " << x << "," << y;
      }
    }
    auto ledger = busy.inst.ledger();
    EXPECT_EQ(ledger.fetched, ledger.released);
    EXPECT_EQ(ledger.doubleReleases, 0);
  }
}

TEST(ConcurrentRender, TilesOfOneFrameBuildOnce) {
  Loaded l;
  setInputs(l.inst);
  l.inst.setImage(kClipOutput, 0, Image::create(PixelDepth::Float, Components::RGBA, OfxRectI{0, 0, W, H}));
  std::vector<std::thread> threads;
  for (int tile = 0; tile < kTilesX * kTilesY; ++tile)
    threads.emplace_back([&, tile] { l.inst.render(0, tileRect(tile)); });
  for (auto &th : threads) th.join();
  const MatchLut *grid = publishedGrid(l.inst);
  ASSERT_NE(grid, nullptr);
  EXPECT_TRUE(grid->valid);
  EXPECT_EQ(record(l.inst)->buildCount, 1u);
  // Rendering the frame again finds the grid built by the concurrent tiles.
  ASSERT_EQ(l.inst.render(0, OfxRectI{0, 0, W, H}), kOfxStatOK);
  EXPECT_EQ(publishedGrid(l.inst), grid);
  EXPECT_EQ(record(l.inst)->buildCount, 1u);
}

TEST(ConcurrentRender, AnalysedLutsAreBuiltOnceAndMatchQuietRenders) {
  constexpr int kFrames = 6;
  auto inputs = [](tbhost::Instance &inst, int choice) {
    for (int t = 0; t < kFrames; ++t) inst.setImage(kClipSource, t, picture(W, H, 3 + 5 * t));
    inst.setImage(kClipReference, picture(W, H, 50));
    inst.setParam(kParamAnalysis, choice);
    inst.setParam(kParamAnalysisEnd, kFrames - 1);
    inst.setParam(kParamAnalysisWindow, 2);
  };
  for (int choice : {kAnalysisFrameRange, kAnalysisRollingWindow}) {
    Loaded quiet;
    inputs(quiet.inst, choice);
    std::vector<std::shared_ptr<Image>> expected;
    for (int t = 0; t < kFrames; ++t) {
      ASSERT_EQ(quiet.inst.render(t, OfxRectI{0, 0, W, H}), kOfxStatOK);
      expected.push_back(quiet.inst.image(kClipOutput, t));
    }
    Loaded busy;
    inputs(busy.inst, choice);
    for (int t = 0; t < kFrames; ++t)
      busy.inst.setImage(kClipOutput, t, Image::create(PixelDepth::Float, Components::RGBA, OfxRectI{0, 0, W, H}));
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; ++k)
      threads.emplace_back([&, k] {
        for (int i = 0; i < kFrames; ++i)
          for (int tile = k; tile < kTilesX * kTilesY; tile += 4) busy.inst.render((i + k) % kFrames, tileRect(tile));
      });
    for (auto &th : threads) th.join();
    // One build for the shot; and each frame measured once, however the
    // renders interleave (the other Source fetches are the tiles' own).
    if (choice == kAnalysisFrameRange) {
      EXPECT_EQ(record(busy.inst)->buildCount, 1u);
    }
    long sourceFetches = 0;
    for (const tbhost::ImageRecord &r : busy.inst.fetchedImages()) sourceFetches += r.clip == kClipSource;
    EXPECT_EQ(sourceFetches, kFrames + kFrames * kTilesX * kTilesY);
    for (int t = 0; t < kFrames; ++t) {
      auto out = busy.inst.image(kClipOutput, t);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
          for (int c = 0; c < 4; ++c) ASSERT_EQ(out->get(x, y, c), expected[t]->get(x, y, c)) << choice << " " << t;
    }
    EXPECT_TRUE(busy.inst.ledger().outstanding.empty());
  }
}

}  // namespace
