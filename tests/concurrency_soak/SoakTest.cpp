// A bounded concurrency soak through the headless host: threads render tiles
// of one instance at several times while others change parameters, press
// Refresh and export, and further instances are created, rendered and
// destroyed beside them. Every tile must equal a single-threaded render of
// its time (with one of the parameter sets the changing thread uses), every
// exported file must be complete, and nothing may be left behind. Run under
// ThreadSanitizer by `./run sanitize`.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/Host.h"
#include "plugin/Names.h"

namespace {

namespace fs = std::filesystem;
using tbhost::Host;
using tbhost::Image;
using tbhost::Instance;

const char kBundle[] = TINTBRIDGE_BUNDLE_BINARY;
const int kWidth = 32, kHeight = 24;
const double kTimes[3] = {0.0, 1.0, 2.0};
// The parameter sets the changing thread switches between.
const double kStrengths[2] = {1.0, 0.4};
const int kModes[2] = {0, 1};

const int kRenderThreads = 3;
const int kRendersPerThread = 16;
// The other threads go on while the renders run, each up to a bound.
const int kParameterChanges = 40;
const int kRefreshPresses = 40;
const int kExports = 40;
const int kInstanceLives = 4;
const std::chrono::milliseconds kPause(15);

std::shared_ptr<Image> picture(double time, bool reference) {
  std::shared_ptr<Image> image = Image::rgbaFloat(kWidth, kHeight);
  const float t = static_cast<float>(time);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const float u = static_cast<float>(x) / (kWidth - 1), v = static_cast<float>(y) / (kHeight - 1);
      if (reference) {
        image->set(x, y, 0, 0.2f + 0.6f * v);
        image->set(x, y, 1, std::fmod(0.3f * t + 0.5f * u, 1.0f));
        image->set(x, y, 2, 0.9f - 0.5f * u * v);
      } else {
        image->set(x, y, 0, u);
        image->set(x, y, 1, std::fmod(v + 0.25f * t, 1.0f));
        image->set(x, y, 2, 0.5f * (u + v));
      }
      image->set(x, y, 3, 0.25f + 0.25f * t);
    }
  return image;
}

void giveInputs(Instance &inst) {
  for (double t : kTimes) {
    inst.setImage(kClipSource, t, picture(t, false));
    inst.setImage(kClipReference, t, picture(t, true));
    inst.setImage(kClipOutput, t, Image::rgbaFloat(kWidth, kHeight));
  }
}

std::vector<float> region(const Image &image, const OfxRectI &r) {
  std::vector<float> out;
  for (int y = r.y1; y < r.y2; ++y)
    for (int x = r.x1; x < r.x2; ++x)
      for (int c = 0; c < 4; ++c) out.push_back(image.get(x, y, c));
  return out;
}

std::string readAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool completeExport(const std::string &text) {
  if (text.compare(0, 6, "TITLE ") == 0) {
    std::istringstream in(text);
    std::string line;
    long entries = 0;
    bool sized = false;
    while (std::getline(in, line)) {
      if (line.compare(0, 12, "LUT_3D_SIZE ") == 0) sized = line == "LUT_3D_SIZE 65";
      float a, b, c;
      if (!line.empty() && line[0] != '#' && std::sscanf(line.c_str(), "%f %f %f", &a, &b, &c) == 3) ++entries;
    }
    return sized && entries == 65L * 65 * 65 && text.back() == '\n';
  }
  return text.compare(0, 5, "<?xml") == 0 &&
         text.size() >= 30 && text.compare(text.size() - 29, 29, "</ColorCorrectionCollection>\n") == 0;
}

}  // namespace

TEST(ConcurrencySoak, TilesExportsAndInstancesFromManyThreads) {
  const fs::path folder = fs::temp_directory_path() / "tintbridge-concurrency-soak";
  fs::remove_all(folder);
  fs::create_directories(folder);

  Host host(kBundle);
  ASSERT_EQ(host.load(), kOfxStatOK);

  // Single-threaded renders of every time with every parameter set.
  std::map<std::pair<int, int>, std::vector<float>> expected;  // (time index, parameter set)
  for (int ti = 0; ti < 3; ++ti) {
    for (int set = 0; set < 4; ++set) {
      Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
      giveInputs(inst);
      inst.setParam(kParamStrength, kStrengths[set & 1]);
      inst.setParam(kParamMatchMode, kModes[set >> 1]);
      ASSERT_EQ(inst.render(kTimes[ti], OfxRectI{0, 0, kWidth, kHeight}), kOfxStatOK);
      expected[{ti, set}] = region(*inst.image(kClipOutput, kTimes[ti]), OfxRectI{0, 0, kWidth, kHeight});
      inst.destroy();
    }
  }
  auto tileOf = [](const std::vector<float> &full, const OfxRectI &r) {
    std::vector<float> out;
    for (int y = r.y1; y < r.y2; ++y)
      for (int x = r.x1; x < r.x2; ++x)
        for (int c = 0; c < 4; ++c) out.push_back(full[(static_cast<size_t>(y) * kWidth + x) * 4 + c]);
    return out;
  };
  // Four tiles; each render thread owns some of them, so no two threads
  // ever write the same pixels.
  const OfxRectI tiles[4] = {{0, 0, 16, 12}, {16, 0, 32, 12}, {0, 12, 16, 24}, {16, 12, 32, 24}};

  Instance shared = host.createInstance(kOfxImageEffectContextGeneral);
  giveInputs(shared);
  host.clearMessages();

  std::atomic<long> tilesChecked{0}, tileMismatches{0}, livesChecked{0};
  std::atomic<int> rendersRunning{kRenderThreads};
  std::atomic<int> changes{0}, refreshes{0}, exports{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < kRenderThreads; ++r) {
    threads.emplace_back([&, r] {
      for (int i = 0; i < kRendersPerThread; ++i) {
        const int ti = (i + r) % 3;
        // Thread r owns tile r; thread 0 also owns the fourth.
        const OfxRectI &t = tiles[r == 0 && i % 2 ? 3 : r];
        EXPECT_EQ(shared.render(kTimes[ti], t), kOfxStatOK);
        const std::vector<float> got = region(*shared.image(kClipOutput, kTimes[ti]), t);
        bool matched = false;
        for (int set = 0; set < 4 && !matched; ++set) matched = got == tileOf(expected[{ti, set}], t);
        if (!matched) ++tileMismatches;
        ++tilesChecked;
      }
      --rendersRunning;
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < kParameterChanges && rendersRunning > 0; ++i, ++changes) {
      EXPECT_EQ(shared.editParam(kParamStrength, kStrengths[i % 2]), kOfxStatReplyDefault);
      EXPECT_EQ(shared.editParam(kParamMatchMode, kModes[(i / 2) % 2]), kOfxStatReplyDefault);
      std::this_thread::sleep_for(kPause * 6);
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kRefreshPresses && rendersRunning > 0; ++i, ++refreshes) {
      EXPECT_EQ(shared.instanceChanged(kParamRebuildButton), kOfxStatReplyDefault);
      std::this_thread::sleep_for(kPause * 20);
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kExports && rendersRunning > 0; ++i, ++exports) {
      const bool cube = i % 2 == 0;
      shared.setParam(kParamExportPath, (folder / ("soak-" + std::to_string(i) + (cube ? ".cube" : ".cdl"))).string());
      const OfxStatus s = shared.instanceChanged(cube ? "exportButton" : "exportCDLButton");
      // Refused (0) while the LUT is being rebuilt, else run (14).
      EXPECT_TRUE(s == kOfxStatOK || s == kOfxStatReplyDefault) << s;
      std::this_thread::sleep_for(kPause);
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < kInstanceLives; ++i) {
      Instance inst = host.createInstance(kOfxImageEffectContextGeneral);
      EXPECT_EQ(inst.createStatus(), kOfxStatOK);
      giveInputs(inst);
      const int ti = i % 3;
      EXPECT_EQ(inst.render(kTimes[ti], OfxRectI{0, 0, kWidth, kHeight}), kOfxStatOK);
      // Default parameters: strength 1, Different Clips.
      EXPECT_EQ(region(*inst.image(kClipOutput, kTimes[ti]), OfxRectI{0, 0, kWidth, kHeight}), (expected[{ti, 0}]));
      EXPECT_EQ(inst.destroy(), kOfxStatOK);
      ++livesChecked;
    }
  });
  for (std::thread &t : threads) t.join();

  // One export with a LUT that nothing disturbs must be written.
  ASSERT_EQ(shared.render(0.0, OfxRectI{0, 0, kWidth, kHeight}), kOfxStatOK);
  shared.setParam(kParamExportPath, (folder / "final.cube").string());
  EXPECT_EQ(shared.instanceChanged(kParamExportButton), kOfxStatReplyDefault);
  EXPECT_TRUE(completeExport(readAll((folder / "final.cube").string())));

  EXPECT_EQ(tilesChecked.load(), kRenderThreads * kRendersPerThread);
  EXPECT_EQ(tileMismatches.load(), 0) << "tiles that match no single-threaded render of their time";
  EXPECT_EQ(livesChecked.load(), kInstanceLives);
  const tbhost::LedgerStats ledger = shared.ledger();
  EXPECT_EQ(ledger.doubleReleases, 0);
  EXPECT_TRUE(ledger.outstanding.empty());

  // Every export the host heard of is complete, and so is every file left.
  long saved = 0;
  for (const tbhost::Message &m : host.messages()) {
    for (const char *prefix : {"LUT saved to:\n", "CDL saved to:\n"}) {
      const std::string p = prefix;
      if (m.text.compare(0, p.size(), p) != 0) continue;
      ++saved;
      const std::string path = m.text.substr(p.size());
      EXPECT_TRUE(completeExport(readAll(path))) << path;
    }
  }
  for (const auto &entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    EXPECT_NE(name.rfind(".Tintbridge-", 0), 0u) << "temporary file left: " << name;
    EXPECT_TRUE(completeExport(readAll(entry.path().string()))) << name;
  }
  std::printf("soak: %ld tiles, %d parameter changes, %d refreshes, %d exports (%ld saved), %ld instance lives\n",
              tilesChecked.load(), changes.load(), refreshes.load(), exports.load(), saved, livesChecked.load());

  shared.destroy();
  EXPECT_EQ(host.memory().liveBlocks, 0);
  fs::remove_all(folder);
}
