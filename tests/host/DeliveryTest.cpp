// What the host does between a clip and the plug-in, as production hosts
// do: inputs cut to the regions of interest, image identifiers that follow
// the pixels, premultiplication marks, and clip preferences with the
// conversions they call for.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "HostFixture.h"
#include "host/Host.h"

using tbhost::Components;
using tbhost::Image;
using tbhost::ImageRecord;
using tbhost::Instance;
using tbhost::PixelDepth;
using hosttest::fetch;
using hosttest::kGeneral;

namespace {

std::vector<int> rect(const OfxRectI &r) { return {r.x1, r.y1, r.x2, r.y2}; }

struct Delivery : hosttest::Fixture {
  const OfxPropertySuiteV1 *props = nullptr;

  void SetUp() override {
    Fixture::SetUp();
    props = fetch<OfxPropertySuiteV1>(host, kOfxPropertySuite);
  }

  OfxImageClipHandle clip(const Instance &inst, const char *name) {
    OfxImageClipHandle c = nullptr;
    effects->clipGetHandle(inst.handle(), name, &c, nullptr);
    return c;
  }

  // The last image handed out for `clipName`.
  static ImageRecord last(const Instance &inst, const std::string &clipName) {
    ImageRecord found;
    for (const ImageRecord &r : inst.fetchedImages()) {
      if (r.clip == clipName) found = r;
    }
    return found;
  }

  // Fetches Source at time 0 as a plug-in would outside a render; the first
  // channels of its first pixels, and the identifier the image carries.
  ImageRecord fetchSource(const Instance &inst, std::vector<float> *values = nullptr, std::string *identifier = nullptr) {
    OfxPropertySetHandle image = nullptr;
    EXPECT_EQ(effects->clipGetImage(clip(inst, "Source"), 0.0, nullptr, &image), kOfxStatOK);
    if (!image) return ImageRecord();
    if (values) {
      void *data = nullptr;
      props->propGetPointer(image, kOfxImagePropData, 0, &data);
      const float *p = static_cast<const float *>(data);
      values->assign(p, p + values->size());
    }
    if (identifier) {
      char *id = nullptr;
      const OfxStatus s = props->propGetString(image, kOfxImagePropUniqueIdentifier, 0, &id);
      *identifier = s == kOfxStatOK && id ? id : "(none)";
    }
    EXPECT_EQ(effects->clipReleaseImage(image), kOfxStatOK);
    return last(inst, "Source");
  }
};

TEST_F(Delivery, InputsCoverTheRegionOfInterestWithinTheirDefinition) {
  Instance inst = host.createInstance(kGeneral);
  auto source = Image::rgbaFloat(16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) source->set(x, y, 0, static_cast<float>(100 * x + y));
  inst.setImage("Source", source);
  inst.setParam("gain", 2.0);

  // The plug-in leaves the region to the host: the render window.
  ASSERT_EQ(inst.render(0.0, OfxRectI{4, 4, 8, 8}), kOfxStatOK);
  EXPECT_EQ(rect(last(inst, "Source").bounds), (std::vector<int>{4, 4, 8, 8}));
  EXPECT_EQ(rect(last(inst, "Output").bounds), (std::vector<int>{0, 0, 16, 16}));
  EXPECT_EQ(inst.image("Output", 0.0)->get(5, 6, 0), 2.0f * 506);
  // It asks for more around the window, and for more than there is.
  inst.setParamValues("offset", {2.0, 1.0});
  ASSERT_EQ(inst.render(0.0, OfxRectI{4, 4, 8, 8}), kOfxStatOK);
  EXPECT_EQ(rect(last(inst, "Source").bounds), (std::vector<int>{2, 3, 10, 9}));
  inst.setParamValues("offset", {20.0, 20.0});
  ASSERT_EQ(inst.render(0.0, OfxRectI{4, 4, 8, 8}), kOfxStatOK);
  EXPECT_EQ(rect(last(inst, "Source").bounds), (std::vector<int>{0, 0, 16, 16}));

  // A region passed to the fetch is cut to the region of definition.
  OfxPropertySetHandle image = nullptr;
  const OfxRectD partly{-5.0, -5.0, 3.5, 3.0};
  ASSERT_EQ(effects->clipGetImage(clip(inst, "Source"), 0.0, &partly, &image), kOfxStatOK);
  int bounds[4] = {0, 0, 0, 0};
  props->propGetIntN(image, kOfxImagePropBounds, 4, bounds);
  EXPECT_EQ(std::vector<int>(bounds, bounds + 4), (std::vector<int>{0, 0, 4, 3}));
  props->propGetIntN(image, kOfxImagePropRegionOfDefinition, 4, bounds);
  EXPECT_EQ(std::vector<int>(bounds, bounds + 4), (std::vector<int>{0, 0, 16, 16}));
  effects->clipReleaseImage(image);
  const OfxRectD outside{20.0, 20.0, 30.0, 30.0};
  EXPECT_EQ(effects->clipGetImage(clip(inst, "Source"), 0.0, &outside, &image), kOfxStatFailed);

  OfxRectD rod{-1, -1, -1, -1};
  EXPECT_EQ(effects->clipGetRegionOfDefinition(clip(inst, "Source"), 0.0, &rod), kOfxStatOK);
  EXPECT_EQ(rod.x2, 16.0);
  EXPECT_EQ(rod.y1, 0.0);
  EXPECT_EQ(inst.ledger().outstanding.size(), 0u);
}

TEST_F(Delivery, IdentifiersFollowThePixelsAndImagesCarryPremultiplication) {
  Instance inst = host.createInstance(kGeneral);
  inst.setImage("Source", 0.0, Image::rgbaFloat(4, 4));
  std::string id;
  const ImageRecord first = fetchSource(inst, nullptr, &id);
  EXPECT_FALSE(first.identifier.empty());
  EXPECT_EQ(id, first.identifier);
  EXPECT_EQ(fetchSource(inst).identifier, first.identifier);
  EXPECT_EQ(first.premultiplication, kOfxImageUnPreMultiplied);

  // An upstream edit: new pixels and no action.
  host.clearChanges();
  inst.setImage("Source", 0.0, Image::rgbaFloat(4, 4));
  const ImageRecord edited = fetchSource(inst);
  EXPECT_NE(edited.identifier, first.identifier);
  EXPECT_TRUE(host.changes().empty());
  // A user connecting another picture: the preferences again and a clip change.
  const int asked = inst.clipPreferences().calls;
  EXPECT_EQ(inst.editImage("Source", 0.0, Image::rgbaFloat(4, 4)), kOfxStatReplyDefault);
  EXPECT_EQ(inst.clipPreferences().calls, asked + 1);
  ASSERT_EQ(host.changes().size(), 1u);
  EXPECT_EQ(host.changes()[0].type, kOfxTypeClip);
  EXPECT_EQ(host.changes()[0].name, "Source");
  EXPECT_NE(fetchSource(inst).identifier, edited.identifier);

  EXPECT_TRUE(inst.setPremultiplication("Source", kOfxImagePreMultiplied));
  EXPECT_FALSE(inst.setPremultiplication("Source", "OfxImageAlphaSomehow"));
  EXPECT_EQ(inst.clipProperties("Source")->getString(kOfxImageEffectPropPreMultiplication), kOfxImagePreMultiplied);
  EXPECT_EQ(fetchSource(inst).premultiplication, kOfxImagePreMultiplied);

  host.giveImageIdentifiers(false);
  EXPECT_EQ(fetchSource(inst, nullptr, &id).identifier, "");
  EXPECT_EQ(id, "(none)");
}

TEST_F(Delivery, ClipPreferencesAreAskedWhenClipsChangeAndImagesFollowThem) {
  Instance inst = host.createInstance(kGeneral);
  EXPECT_EQ(inst.clipPreferences().calls, 1);
  auto picture = Image::rgbaFloat(2, 1);
  picture->set(0, 0, 3, 0.5f);
  picture->set(1, 0, 3, 0.25f);
  inst.setImage("Source", picture);
  ASSERT_EQ(inst.render(0.0, OfxRectI{0, 0, 2, 1}), kOfxStatOK);
  EXPECT_EQ(inst.clipPreferences().calls, 2);  // Source was connected
  inst.setImage("Source", picture);
  ASSERT_EQ(inst.render(0.0, OfxRectI{0, 0, 2, 1}), kOfxStatOK);
  EXPECT_EQ(inst.clipPreferences().calls, 2);  // the same format: nothing to ask

  // Source preferred as a matte: a real alpha is taken as it is.
  inst.setParam("name", kOfxImageComponentAlpha);
  EXPECT_EQ(inst.askClipPreferences(), kOfxStatOK);
  const tbhost::ClipPreferences prefs = inst.clipPreferences();
  EXPECT_EQ(prefs.status, kOfxStatOK);
  ASSERT_EQ(prefs.clips.size(), 2u);
  EXPECT_EQ(prefs.clips[0].clip, "Source");
  EXPECT_EQ(prefs.clips[0].components, kOfxImageComponentAlpha);
  EXPECT_EQ(prefs.premultiplication, kOfxImagePreMultiplied);
  EXPECT_EQ(inst.clipProperties("Source")->getString(kOfxImageEffectPropComponents), kOfxImageComponentAlpha);
  EXPECT_EQ(inst.clipProperties("Source")->getString(kOfxImageClipPropUnmappedComponents), kOfxImageComponentRGBA);
  EXPECT_EQ(inst.clipProperties("Output")->getString(kOfxImageEffectPropPreMultiplication), kOfxImagePreMultiplied);
  std::vector<float> values(2);
  EXPECT_EQ(fetchSource(inst, &values).components, kOfxImageComponentAlpha);
  EXPECT_EQ(values, (std::vector<float>{0.5f, 0.25f}));

  // An RGB picture delivered as RGBA, a picture marked opaque and RGB itself
  // become their luminance.
  const float luminance = 0.2126f * 0.2f + 0.7152f * 0.4f + 0.0722f * 0.6f;
  auto matte = Image::rgbaFloat(1, 1);
  matte->fill(0.2f, 0.4f, 0.6f, 1.0f);
  inst.setImage("Source", matte);
  values.assign(1, 0.0f);
  fetchSource(inst, &values);
  EXPECT_EQ(values[0], luminance);
  inst.setImage("Source", picture);
  picture->fill(0.2f, 0.4f, 0.6f, 0.5f);
  inst.setPremultiplication("Source", kOfxImageOpaque);
  fetchSource(inst, &values);
  EXPECT_EQ(values[0], luminance);
  auto rgb = Image::create(PixelDepth::Float, Components::RGB, OfxRectI{0, 0, 1, 1});
  rgb->fill(0.2f, 0.4f, 0.6f, 0.0f);
  inst.setImage("Source", rgb);
  fetchSource(inst, &values);
  EXPECT_EQ(values[0], luminance);

  // With no preference, RGB goes to the RGBA that Source takes, alpha 1.
  inst.setParam("name", "abc");
  EXPECT_EQ(inst.askClipPreferences(), kOfxStatReplyDefault);
  values.assign(4, 0.0f);
  EXPECT_EQ(fetchSource(inst, &values).components, kOfxImageComponentRGBA);
  EXPECT_EQ(values, (std::vector<float>{0.2f, 0.4f, 0.6f, 1.0f}));
  EXPECT_EQ(inst.clipPreferences().clips[0].components, kOfxImageComponentRGBA);
}

TEST_F(Delivery, ImagesConvertedToAnotherDepthKeepTheirRowsAligned) {
  // Frame 1 in 16 bits with six bytes of padding a row; the clip takes the
  // float format of frame 0, so frame 1 arrives as float.
  Instance inst = host.createInstance(kGeneral);
  tbhost::ImageLayout padded;
  padded.rowPadding = 6;
  auto shorts = Image::create(PixelDepth::Short, Components::RGBA, OfxRectI{0, 0, 3, 2}, padded);
  shorts->fill(0.25f, 0.5f, 0.75f, 1.0f);
  inst.setImage("Source", 1.0, shorts);
  inst.setImage("Source", 0.0, Image::rgbaFloat(3, 2));
  ASSERT_EQ(inst.render(0.0, OfxRectI{0, 0, 3, 2}), kOfxStatOK);
  OfxPropertySetHandle image = nullptr;
  ASSERT_EQ(effects->clipGetImage(clip(inst, "Source"), 1.0, nullptr, &image), kOfxStatOK);
  char *depth = nullptr;
  int rowBytes = 0;
  void *data = nullptr;
  props->propGetString(image, kOfxImageEffectPropPixelDepth, 0, &depth);
  props->propGetInt(image, kOfxImagePropRowBytes, 0, &rowBytes);
  props->propGetPointer(image, kOfxImagePropData, 0, &data);
  EXPECT_STREQ(depth, kOfxBitDepthFloat);
  EXPECT_GE(rowBytes, 3 * 16);
  EXPECT_EQ(rowBytes % 4, 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 4, 0u);
  const float *second = reinterpret_cast<const float *>(static_cast<const char *>(data) + rowBytes);
  EXPECT_NEAR(second[2], 0.75f, 1e-4f);
  EXPECT_EQ(effects->clipReleaseImage(image), kOfxStatOK);
}

}  // namespace
