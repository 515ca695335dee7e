// A minimal stand-in for the host suites the export commands call: four
// double parameters, the "exportPath" string, a recording message suite and a
// captured debug channel.
#ifndef TINTBRIDGE_TESTS_EXPORT_FAKE_HOST_H
#define TINTBRIDGE_TESTS_EXPORT_FAKE_HOST_H

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lut/MatchLut.h"
#include "plugin/DebugLog.h"
#include "plugin/HostSuites.h"
#include "plugin/MatchInstance.h"

namespace exporttest {

struct FakeParam {
  bool isString = false;
  double value = 1.0;
  std::string text;
  bool textIsNull = false;
  int reads = 0;
  int writes = 0;
};

struct FakeMessage {
  void *handle;
  std::string type;
  bool idIsNull;
  std::string format;
  std::string text;  // the format applied to its arguments
};

class FakeHost {
 public:
  explicit FakeHost(bool withMessageSuite = true) {
    current() = this;
    saved_ = gHostSuites;
    parameterSuite_ = OfxParameterSuiteV1{};
    parameterSuite_.paramGetValue = &paramGetValue;
    parameterSuite_.paramSetValue = &paramSetValue;
    messageSuite_.message = &message;
    gHostSuites.parameterSuite = &parameterSuite_;
    gHostSuites.messageSuite = withMessageSuite ? &messageSuite_ : nullptr;
    setDebugLogSink(&logSink);
    exportPath.isString = true;
    instance.effect = effect();
    instance.strengthParam = handle(strength);
    instance.strengthRParam = handle(strengthR);
    instance.strengthGParam = handle(strengthG);
    instance.strengthBParam = handle(strengthB);
    instance.exportPathParam = handle(exportPath);
    instance.lut = std::make_shared<MatchLut>();
  }
  ~FakeHost() {
    gHostSuites = saved_;
    setDebugLogSink(nullptr);
    current() = nullptr;
  }
  FakeHost(const FakeHost &) = delete;
  FakeHost &operator=(const FakeHost &) = delete;

  OfxImageEffectHandle effect() { return reinterpret_cast<OfxImageEffectHandle>(&effectTag_); }
  int doubleReads() const { return strength.reads + strengthR.reads + strengthG.reads + strengthB.reads; }

  FakeParam strength, strengthR, strengthG, strengthB, exportPath;
  std::vector<FakeMessage> messages;
  std::vector<std::string> logLines;
  std::function<void()> onExportPathSet;  // runs inside paramSetValue, as a host's instance-changed would
  MatchInstance instance{};

 private:
  static FakeHost *&current() {
    static FakeHost *host = nullptr;
    return host;
  }
  static OfxParamHandle handle(FakeParam &param) { return reinterpret_cast<OfxParamHandle>(&param); }

  static OfxStatus paramGetValue(OfxParamHandle h, ...) {
    FakeParam *param = reinterpret_cast<FakeParam *>(h);
    ++param->reads;
    va_list args;
    va_start(args, h);
    if (param->isString) {
      const char **out = va_arg(args, const char **);
      *out = param->textIsNull ? nullptr : param->text.c_str();
    } else {
      double *out = va_arg(args, double *);
      *out = param->value;
    }
    va_end(args);
    return kOfxStatOK;
  }

  static OfxStatus paramSetValue(OfxParamHandle h, ...) {
    FakeParam *param = reinterpret_cast<FakeParam *>(h);
    ++param->writes;
    va_list args;
    va_start(args, h);
    if (param->isString) {
      const char *in = va_arg(args, const char *);
      param->text = in != nullptr ? in : "";
      param->textIsNull = false;
    } else {
      param->value = va_arg(args, double);
    }
    va_end(args);
    if (param == &current()->exportPath && current()->onExportPathSet) {
      std::function<void()> hook = current()->onExportPathSet;
      hook();
    }
    return kOfxStatOK;
  }

  static OfxStatus message(void *handle, const char *type, const char *id, const char *format, ...) {
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    current()->messages.push_back({handle, type != nullptr ? type : "", id == nullptr,
                                   format != nullptr ? format : "", text});
    return kOfxStatOK;
  }

  static void logSink(const char *line) {
    if (current() != nullptr) current()->logLines.push_back(line);
  }

  HostSuites saved_;
  OfxParameterSuiteV1 parameterSuite_;
  OfxMessageSuiteV1 messageSuite_;
  int effectTag_ = 0;
};

}  // namespace exporttest

#endif
