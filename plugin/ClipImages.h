// The images of the instance's clips at one time, fetched from the host and
// read into plain pixel views.
#ifndef TINTBRIDGE_CLIP_IMAGES_H
#define TINTBRIDGE_CLIP_IMAGES_H

#include <string>

#include "lut/ImageView.h"
#include "ofx/OfxApi.h"

struct ClipImage {
  OfxPropertySetHandle handle = nullptr;  // to release; may be set while unusable
  PixelImage pixels;
  bool usable = false;
  bool premultiplied = false;  // colour premultiplied by alpha
  std::string uniqueId;        // the host's identity of these pixels; "" when none
};

// Asks the host for the image of `clip` at `time`; no image for a null clip.
OfxPropertySetHandle fetchImage(OfxImageClipHandle clip, double time);

// Reads an image's geometry and format. An image without data, with a depth
// the kernels cannot read, with rows shorter than its pixels, or (for a
// colour image) with a single component counts as absent.
ClipImage readImage(OfxPropertySetHandle image, bool isMask);

// Whether `image` covers the whole region of definition of `clip` at `time`
// (render scale applied); true when the host does not say.
bool coversClip(const ClipImage &image, OfxImageClipHandle clip, double time, const double renderScale[2]);

// Gives a fetched image back to the host, once.
void releaseImage(ClipImage &image);

#endif
