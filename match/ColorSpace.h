// Conversions between RGB, scaled CIE L*a*b* and BT.601 YUV, single precision.
#ifndef TINTBRIDGE_COLOR_SPACE_H
#define TINTBRIDGE_COLOR_SPACE_H

#include "lut/Clamp.h"

// Working space code: 1 scaled Lab, 2 YUV, anything else RGB as is.
typedef int ColorSpace;
enum : int { kColorSpaceLab = 1, kColorSpaceYuv = 2 };

// Preserve code: 0 nothing, 1 original brightness, 2 original colours; others as 0.
typedef int PreserveMode;
enum : int { kPreserveNothing = 0, kPreserveBrightness = 1, kPreserveColors = 2 };


void rgbToLab(float r, float g, float b, float &l, float &a, float &bb);
void labToRgb(float l, float a, float bb, float &r, float &g, float &b);
void rgbToYuv(float r, float g, float b, float &y, float &u, float &v);
void yuvToRgb(float y, float u, float v, float &r, float &g, float &b);
void recombinePreserve(PreserveMode mode, const float original[3], const float matched[3], float out[3]);

// L' of rgbToLab alone, computed exactly as rgbToLab computes it.
float rgbToLabLightness(float r, float g, float b);

// recombinePreserve with the original colour already in scaled Lab (as
// rgbToLab gives it); same result, for callers that cache that conversion.
void recombinePreserveLab(PreserveMode mode, const float originalLab[3], const float matched[3], float out[3]);

#endif
