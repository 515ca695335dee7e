// Temporal access as the host gives it: clip frame ranges, images made on
// demand at fetch, the frames-needed action before renders, and abort.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "HostFixture.h"
#include "host/Host.h"

using tbhost::FrameRange;
using tbhost::Host;
using tbhost::Image;
using tbhost::Instance;
using hosttest::kGeneral;

namespace {

struct Temporal : hosttest::Fixture {
  const OfxPropertySuiteV1 *props = nullptr;

  void SetUp() override {
    Fixture::SetUp();
    props = hosttest::fetch<OfxPropertySuiteV1>(host, kOfxPropertySuite);
  }

  static std::vector<double> frameRange(const Instance &inst, const char *clip) {
    return inst.clipProperties(clip)->getDoubles("OfxImageEffectPropFrameRange");
  }

  OfxImageClipHandle source(const Instance &inst) {
    OfxImageClipHandle c = nullptr;
    effects->clipGetHandle(inst.handle(), "Source", &c, nullptr);
    return c;
  }

  static std::shared_ptr<Image> filled(float value) {
    auto image = Image::rgbaFloat(4, 4);
    image->fill(value, value, value, 1.0f);
    return image;
  }
};

std::vector<double> pairs(const std::vector<FrameRange> &ranges) {
  std::vector<double> out;
  for (const FrameRange &r : ranges) {
    out.push_back(r.first);
    out.push_back(r.last);
  }
  return out;
}

TEST_F(Temporal, FrameRangeFollowsTheImagesUnlessGiven) {
  Instance inst = host.createInstance(kGeneral);
  EXPECT_EQ(frameRange(inst, "Source"), (std::vector<double>{0, 100}));
  inst.setImage("Source", 7.0, filled(0.5f));
  inst.setImage("Source", 3.0, filled(0.5f));
  EXPECT_EQ(frameRange(inst, "Source"), (std::vector<double>{3, 7}));
  EXPECT_EQ(inst.clipProperties("Source")->getDoubles("OfxImageEffectPropUnmappedFrameRange"),
            (std::vector<double>{3, 7}));
  inst.setImage("Source", 7.0, nullptr);
  EXPECT_EQ(frameRange(inst, "Source"), (std::vector<double>{3, 3}));
  inst.setImage("Output", filled(0.0f));  // one image for every time: the default
  EXPECT_EQ(frameRange(inst, "Output"), (std::vector<double>{0, 100}));

  EXPECT_TRUE(inst.setFrameRange("Source", 1, 10));
  inst.setImage("Source", 20.0, filled(0.5f));
  EXPECT_EQ(frameRange(inst, "Source"), (std::vector<double>{1, 10}));
  EXPECT_FALSE(inst.setFrameRange("Source", 5, 2));
  EXPECT_FALSE(inst.setFrameRange("Nothing", 0, 1));
}

TEST_F(Temporal, ProvidedImagesLiveWhileTheyAreHeld) {
  Instance inst = host.createInstance(kGeneral);
  int calls = 0;
  std::weak_ptr<Image> made;
  EXPECT_TRUE(inst.setImageProvider("Source", [&](double time) -> std::shared_ptr<Image> {
    ++calls;
    if (time < 0 || time > 4) return nullptr;  // frames the host cannot give
    auto image = filled(static_cast<float>(time) / 10.0f);
    made = image;
    return image;
  }));
  inst.setImage("Source", filled(0.9f));  // the image for every time gives way to the provider
  inst.setImage("Source", 3.0, filled(0.7f));  // an image of its own wins

  auto fetch = [&](double time, OfxPropertySetHandle &image) {
    return effects->clipGetImage(source(inst), time, nullptr, &image);
  };
  auto firstRed = [&](OfxPropertySetHandle image) {
    void *data = nullptr;
    props->propGetPointer(image, kOfxImagePropData, 0, &data);
    return static_cast<const float *>(data)[0];
  };
  auto identifier = [&](OfxPropertySetHandle image) {
    char *id = nullptr;
    props->propGetString(image, kOfxImagePropUniqueIdentifier, 0, &id);
    return std::string(id ? id : "");
  };
  OfxPropertySetHandle a = nullptr, b = nullptr;
  ASSERT_EQ(fetch(2.0, a), kOfxStatOK);
  EXPECT_FLOAT_EQ(firstRed(a), 0.2f);
  EXPECT_FALSE(made.expired());
  OfxRectD rod{0, 0, 0, 0};
  EXPECT_EQ(effects->clipGetRegionOfDefinition(source(inst), 2.0, &rod), kOfxStatOK);
  EXPECT_EQ(rod.x2, 4.0);
  ASSERT_EQ(fetch(2.0, b), kOfxStatOK);
  EXPECT_EQ(calls, 1);  // held, so reused
  EXPECT_EQ(identifier(a), identifier(b));
  EXPECT_EQ(effects->clipReleaseImage(a), kOfxStatOK);
  EXPECT_EQ(effects->clipReleaseImage(b), kOfxStatOK);
  EXPECT_TRUE(made.expired());  // released and held by nothing else: gone

  ASSERT_EQ(fetch(2.0, a), kOfxStatOK);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(effects->clipReleaseImage(a), kOfxStatOK);
  ASSERT_EQ(fetch(3.0, a), kOfxStatOK);
  EXPECT_FLOAT_EQ(firstRed(a), 0.7f);
  EXPECT_EQ(effects->clipReleaseImage(a), kOfxStatOK);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(fetch(9.0, a), kOfxStatFailed);
  EXPECT_EQ(effects->clipGetRegionOfDefinition(source(inst), 9.0, &rod), kOfxStatOK);
  EXPECT_EQ(rod.x2, 0.0);
  EXPECT_TRUE(inst.ledger().outstanding.empty());
}

TEST_F(Temporal, FramesNeededAreAskedBeforeRendersWhenBothSidesHaveTemporalAccess) {
  // Asked directly: every input clip set to (time, time), Output not.
  Instance inst = host.createInstance(kGeneral);
  tbhost::FramesNeededRecord asked = inst.framesNeeded(5.0);
  EXPECT_EQ(asked.status, kOfxStatReplyDefault);
  ASSERT_EQ(asked.ranges.size(), 1u);
  EXPECT_EQ(pairs(asked.ranges["Source"]), (std::vector<double>{5, 5}));
  EXPECT_TRUE(asked.writes.empty());

  // The fake asks for time-1 and time+1 and renders from time+1; the host
  // gives it frames outside that answer too.
  inst.setParam("count", 1);
  inst.setParam("gain", 1.0);
  for (double t : {0.0, 1.0, 2.0}) inst.setImage("Source", t, filled(static_cast<float>(t + 1) / 4));
  auto output = Image::rgbaFloat(4, 4);
  inst.setImage("Output", 0.0, output);
  ASSERT_EQ(inst.render(0.0, OfxRectI{0, 0, 4, 4}), kOfxStatOK);
  EXPECT_FLOAT_EQ(output->get(0, 0, 0), 0.5f);
  auto records = inst.framesNeededRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_FALSE(records[0].beforeRender);
  EXPECT_TRUE(records[1].beforeRender);
  EXPECT_EQ(records[1].status, kOfxStatOK);
  EXPECT_EQ(pairs(records[1].ranges.at("Source")), (std::vector<double>{-1, -1, 1, 1}));
  inst.setParam("count", 2);
  ASSERT_EQ(inst.render(0.0, OfxRectI{0, 0, 4, 4}), kOfxStatOK);
  EXPECT_FLOAT_EQ(output->get(0, 0, 0), 0.75f);

  // A host without temporal access asks nothing and gives a render only its
  // own frame.
  for (int variant = 0; variant < 2; ++variant) {
    Host plain(FAKE_PLUGIN_BINARY);
    if (variant == 0) plain.setTemporalAccess(0);
    else plain.removeTemporalAccess();
    ASSERT_EQ(plain.load(), kOfxStatOK);
    EXPECT_EQ(plain.hostProperties().has(kOfxImageEffectPropTemporalClipAccess), variant == 0);
    Instance other = plain.createInstance(kGeneral);
    other.setParam("count", 1);
    for (double t : {0.0, 1.0}) other.setImage("Source", t, filled(0.5f));
    EXPECT_EQ(other.render(0.0, OfxRectI{0, 0, 4, 4}), kOfxStatFailed);
    EXPECT_TRUE(other.framesNeededRecords().empty());
    other.setParam("count", 3);
    EXPECT_EQ(other.render(0.0, OfxRectI{0, 0, 4, 4}), kOfxStatOK);
    // Its own frame at a time that equals nothing, not even itself.
    other.setImage("Source", filled(0.5f));
    other.setImage("Output", Image::rgbaFloat(4, 4));
    EXPECT_EQ(other.render(std::nan(""), OfxRectI{0, 0, 4, 4}), kOfxStatOK);
  }
}

TEST(TemporalModule, FramesNeededOfTheRealPlugin) {
  Host host(TINTBRIDGE_BUNDLE_BINARY);
  ASSERT_EQ(host.load(), kOfxStatOK) << host.lastError();
  Instance inst = host.createInstance(kGeneral);
  tbhost::FramesNeededRecord every = inst.framesNeeded(3.0);
  EXPECT_EQ(every.status, kOfxStatReplyDefault);
  EXPECT_EQ(every.ranges.size(), 4u);  // the four inputs, not Output
  EXPECT_EQ(pairs(every.ranges["ReferenceMask"]), (std::vector<double>{3, 3}));

  inst.setParam("analysis", 1);
  inst.setParam("analysisStart", 2);
  inst.setParam("analysisEnd", 6);
  inst.setParam("analysisFrames", 3);
  for (int t = 2; t <= 6; ++t) inst.setImage("Source", t, Image::rgbaFloat(8, 8));
  inst.setImage("Reference", Image::rgbaFloat(8, 8));
  ASSERT_EQ(inst.render(3.0, OfxRectI{0, 0, 8, 8}), kOfxStatOK);
  const auto records = inst.framesNeededRecords();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_TRUE(records[1].beforeRender);
  EXPECT_EQ(records[1].status, kOfxStatOK);
  EXPECT_EQ(pairs(records[1].ranges.at("Source")), (std::vector<double>{2, 2, 3, 3, 4, 4, 6, 6}));
  EXPECT_EQ(pairs(records[1].ranges.at("Reference")), (std::vector<double>{2, 2, 4, 4, 6, 6}));
  EXPECT_GT(inst.abortCalls(), 0);  // asked between the frames it measured
}

TEST_F(Temporal, AbortAnswersFromTheNthCallAndCountsThem) {
  Instance inst = host.createInstance(kGeneral);
  EXPECT_EQ(effects->abort(inst.handle()), 0);
  inst.abortAfter(2);
  EXPECT_EQ(effects->abort(inst.handle()), 0);
  EXPECT_EQ(effects->abort(inst.handle()), 1);
  EXPECT_EQ(effects->abort(inst.handle()), 1);
  inst.abortAfter(-1);
  EXPECT_EQ(effects->abort(inst.handle()), 0);
  bool stop = false;
  inst.setAbort([&] { return stop; });
  EXPECT_EQ(effects->abort(inst.handle()), 0);
  stop = true;
  EXPECT_EQ(effects->abort(inst.handle()), 1);
  EXPECT_EQ(inst.abortCalls(), 7);
  EXPECT_EQ(effects->abort(nullptr), 0);
  EXPECT_EQ(effects->abort(host.descriptorHandle()), 0);
  EXPECT_EQ(inst.abortCalls(), 7);
}

}  // namespace
