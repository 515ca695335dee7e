// The images of the instance's clips at one time, fetched from the host and
// read into plain pixel views.
#ifndef TINTBRIDGE_CLIP_IMAGES_H
#define TINTBRIDGE_CLIP_IMAGES_H

#include "lut/ImageView.h"
#include "ofx/OfxApi.h"

struct ClipImage {
  OfxPropertySetHandle handle = nullptr;  // to release; may be set while unusable
  PixelImage pixels;
  bool usable = false;
};

// Asks the host for the image of `clip` at `time`; no image for a null clip.
OfxPropertySetHandle fetchImage(OfxImageClipHandle clip, double time);

// Reads an image's geometry and format. An image without data, with a depth
// the kernels cannot read, or (for a colour image) with a single component
// counts as absent.
ClipImage readImage(OfxPropertySetHandle image, bool isMask);

// Gives a fetched image back to the host, once.
void releaseImage(ClipImage &image);

#endif
