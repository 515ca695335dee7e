// `tintbridge describe`: the plug-in as a host lists it.
#include <algorithm>
#include <cstdio>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/PluginSession.h"

namespace tbcli {

namespace {

std::string stripPrefix(const std::string &text, const std::string &prefix) {
  return text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
}

std::string joinStripped(const std::vector<std::string> &values, const std::string &prefix) {
  std::string text;
  for (const std::string &v : values) text += (text.empty() ? "" : ", ") + stripPrefix(v, prefix);
  return text;
}

std::string number(double v) {
  std::ostringstream s;
  s << v;
  return s.str();
}

// A number property as a double or, for integer parameters, an int.
std::string numberOf(const tbhost::PropertySet &p, const char *name) {
  return number(p.getDouble(name, 0, p.getInt(name)));
}

}  // namespace

int runDescribe(const DescribeOptions &o, std::ostream &out, std::ostream &err) {
  PluginSession plugin;
  plugin.verbose = o.verbose;
  std::string error;
  if (!openSession(o.plugin, false, plugin, error)) return fail(err, error);
  tbhost::Host &host = *plugin.host;
  const auto quiet = quietPlugin(plugin);
  if (host.describe() != kOfxStatOK || host.descriptor() == nullptr)
    return fail(err, "the plug-in did not describe itself");
  const tbhost::PropertySet &d = *host.descriptor();
  const std::vector<std::string> contexts = d.getStrings(kOfxImageEffectPropSupportedContexts);
  std::string context = kOfxImageEffectContextGeneral;
  if (std::find(contexts.begin(), contexts.end(), context) == contexts.end() && !contexts.empty())
    context = contexts.front();
  if (host.describeInContext(context) != kOfxStatOK)
    return fail(err, "the plug-in did not describe itself in the " + stripPrefix(context, "OfxImageEffectContext") +
                         " context");
  const OfxPlugin *record = host.plugin();

  out << d.getString(kOfxPropLabel) << "  (" << (record ? record->pluginIdentifier : "?") << " "
      << (record ? record->pluginVersionMajor : 0) << "." << (record ? record->pluginVersionMinor : 0) << ")\n";
  out << "  module:         " << host.binaryPath() << "\n";
  out << "  grouping:       " << d.getString(kOfxImageEffectPluginPropGrouping) << "\n";
  out << "  contexts:       " << joinStripped(contexts, "OfxImageEffectContext") << "\n";
  out << "  pixel depths:   "
      << joinStripped(d.getStrings(kOfxImageEffectPropSupportedPixelDepths), "OfxBitDepth") << "\n";
  out << "  render threads: " << stripPrefix(d.getString(kOfxImageEffectPluginRenderThreadSafety), "OfxImageEffectRender")
      << ", tiles " << (d.getInt(kOfxImageEffectPropSupportsTiles) ? "yes" : "no") << "\n";

  const std::vector<tbhost::Definition> defs = host.definitions(context);
  char line[512];
  out << "\nClips (" << stripPrefix(context, "OfxImageEffectContext") << " context)\n";
  for (const tbhost::Definition &def : defs) {
    if (def.kind != tbhost::DefinitionKind::Clip || def.properties == nullptr) continue;
    const tbhost::PropertySet &p = *def.properties;
    std::string flags;
    if (p.getInt(kOfxImageClipPropOptional)) flags += "optional";
    if (p.getInt(kOfxImageClipPropIsMask)) flags += flags.empty() ? "mask" : ", mask";
    std::snprintf(line, sizeof line, "  %-14s %-16s %-18s %s\n", def.name.c_str(),
                  p.getString(kOfxPropLabel, 0, def.name).c_str(),
                  joinStripped(p.getStrings(kOfxImageEffectPropSupportedComponents), "OfxImageComponent").c_str(),
                  flags.c_str());
    out << line;
  }
  out << "\nParameters\n";
  for (const tbhost::Definition &def : defs) {
    if (def.kind != tbhost::DefinitionKind::Param || def.properties == nullptr) continue;
    const tbhost::PropertySet &p = *def.properties;
    const std::string type = def.paramType;
    std::string detail;
    if (type == kOfxParamTypeDouble || type == kOfxParamTypeInteger) {
      detail = (type == kOfxParamTypeDouble ? "number" : "integer");
      detail += "   default " + numberOf(p, kOfxParamPropDefault);
      if (p.has(kOfxParamPropMin) || p.has(kOfxParamPropMax))
        detail += ", range " + numberOf(p, kOfxParamPropMin) + " to " + numberOf(p, kOfxParamPropMax);
      if (p.has(kOfxParamPropIncrement)) detail += ", step " + numberOf(p, kOfxParamPropIncrement);
    } else if (type == kOfxParamTypeChoice) {
      const std::vector<std::string> options = p.getStrings(kOfxParamPropChoiceOption);
      const int fallback = p.getInt(kOfxParamPropDefault);
      std::string list;
      for (size_t i = 0; i < options.size(); ++i) list += (i ? " | " : "") + options[i];
      detail = "choice   default \"" +
               (fallback >= 0 && fallback < static_cast<int>(options.size()) ? options[fallback] : std::to_string(fallback)) +
               "\", options " + list;
    } else if (type == kOfxParamTypeString) {
      const bool isPath = p.getString(kOfxParamPropStringMode) == kOfxParamStringIsFilePath;
      detail = std::string(isPath ? "file path" : "text") + "   default \"" + p.getString(kOfxParamPropDefault) + "\"";
    } else if (type == kOfxParamTypePushButton) {
      detail = "button";
    } else {
      detail = stripPrefix(type, "OfxParamType");
    }
    std::snprintf(line, sizeof line, "  %-16s %-18s %s\n", def.name.c_str(), p.getString(kOfxPropLabel, 0, def.name).c_str(),
                  detail.c_str());
    out << line;
  }
  return kExitOk;
}

}  // namespace tbcli
