// Analysis over several frames: which frames a render's LUT is measured on,
// the frames-needed action that tells the host, and the build that measures
// those frames (each once, kept per instance) and pools them into one LUT.
#ifndef TINTBRIDGE_ANALYSIS_H
#define TINTBRIDGE_ANALYSIS_H

#include <memory>
#include <vector>

#include "lut/MatchLut.h"
#include "ofx/OfxApi.h"
#include "plugin/Names.h"

struct MatchInstance;

// The analysis parameters at one time.
struct AnalysisSettings {
  int choice = 0;  // kAnalysis*
  int start = 0;
  int end = 0;
  int frames = kAnalysisFramesDefault;
  int window = kAnalysisWindowDefault;
};

// The frames one LUT is measured on, in time order, each with its weight.
struct AnalysisPlan {
  std::vector<double> frames;
  std::vector<float> weights;
};

// Frame Range: `settings.frames` frames spread evenly over start..end (the
// clip's range first..last when both are 0 or start is after end), both ends
// included from two frames on, rounded to whole frames, each once, weight 1.
// Rolling Window: the frames time - window .. time + window that lie in the
// clip's range, weighted by a raised cosine that falls towards the window's
// edges. Every Frame: no frames.
void planAnalysis(const AnalysisSettings &settings, double time, double first, double last, AnalysisPlan &plan);

// The frames a render of the instance at `time` may still read: false, with
// none, for Every Frame, for a host without temporal access, and when the
// LUT published already serves that render.
bool framesToRead(MatchInstance &instance, double time, AnalysisPlan &plan);

// The weight of a frame `offset` frames from the centre of a rolling window.
float rollingWeight(double offset, int window);

// "OfxImageEffectActionGetFramesNeeded".
OfxStatus framesNeededAction(OfxImageEffectHandle effect, OfxPropertySetHandle inArgs, OfxPropertySetHandle outArgs);

enum class AnalysisOutcome {
  NotAnalysed,  // Every Frame, a host without temporal access, or no frame to measure
  Built,        // `lut` applies (null when there was no memory for it)
  Aborted,      // the host asked to stop; nothing was published
};

struct AnalysedLut {
  AnalysisOutcome outcome = AnalysisOutcome::NotAnalysed;
  std::shared_ptr<MatchLut> lut;
};

// The LUT of the instance's analysis choice for a render at `time`: the
// published one when it was made for the same frames and settings, else one
// measured and built now and published (unless an input image did not cover
// its clip, or the host aborted).
AnalysedLut analysedLut(MatchInstance &instance, double time, const double renderScale[2], int matchMode,
                        int preserveMode);

#endif
