// The names of the effect's clips and parameters, as hosts, saved projects and
// the command line know them. Plain constants: any layer may include this.
#ifndef TINTBRIDGE_NAMES_H
#define TINTBRIDGE_NAMES_H

// Clips.
constexpr const char *kClipSource = "Source";
constexpr const char *kClipReference = "Reference";
constexpr const char *kClipSourceMask = "SourceMask";
constexpr const char *kClipReferenceMask = "ReferenceMask";
constexpr const char *kClipOutput = "Output";

// Parameters, in the order they are defined.
constexpr const char *kParamStrength = "strength";
constexpr const char *kParamStrengthR = "strengthR";
constexpr const char *kParamStrengthG = "strengthG";
constexpr const char *kParamStrengthB = "strengthB";
constexpr const char *kParamMatchMode = "matchMode";
constexpr const char *kParamPreserveMode = "preserveMode";
constexpr const char *kParamExportPath = "exportPath";
constexpr const char *kParamExportButton = "exportButton";
constexpr const char *kParamExportCdlButton = "exportCDLButton";
constexpr const char *kParamRebuildButton = "rebuildButton";
// Analysis over several frames, after the ten above so that saved projects
// keep their order.
constexpr const char *kParamAnalysis = "analysis";
constexpr const char *kParamAnalysisStart = "analysisStart";
constexpr const char *kParamAnalysisEnd = "analysisEnd";
constexpr const char *kParamAnalysisFrames = "analysisFrames";
constexpr const char *kParamAnalysisWindow = "analysisWindow";

// "analysis" option index.
enum : int { kAnalysisEveryFrame = 0, kAnalysisFrameRange = 1, kAnalysisRollingWindow = 2 };
// Defaults and largest values of "analysisFrames" and "analysisWindow"
// (both from 1).
constexpr int kAnalysisFramesDefault = 12;
constexpr int kAnalysisFramesMax = 250;
constexpr int kAnalysisWindowDefault = 12;
constexpr int kAnalysisWindowMax = 100;

#endif
