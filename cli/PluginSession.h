// One run of the plug-in as a host drives it: the bundle loaded, an instance
// in the general context, clips connected, parameters set, frames rendered in
// tiles and buttons pressed, with what the plug-in says passed on.
#ifndef TINTBRIDGE_CLI_PLUGIN_SESSION_H
#define TINTBRIDGE_CLI_PLUGIN_SESSION_H

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "cli/Platform.h"
#include "host/Host.h"

namespace tbcli {

struct PluginSession {
  PluginSession() = default;
  PluginSession(const PluginSession &) = delete;
  PluginSession &operator=(const PluginSession &) = delete;
  ~PluginSession();  // unloads the plug-in, quietly unless verbose

  bool verbose = false;  // the plug-in's debug lines ("Tintbridge: ...") are shown
  std::unique_ptr<tbhost::Host> host;
  tbhost::Instance instance;
};

// For the life of the object the plug-in's debug lines are held back,
// unless the session is verbose. Every call into the plug-in is made under
// one; what the plug-in says to the user comes through the host's messages.
std::unique_ptr<StderrFilter> quietPlugin(const PluginSession &session);

// The bundle to load: `plugin` when given, else the first that exists of the
// bundle beside this executable's build tree, the installed one beside it,
// the build tree it was built in, and the install location it was built for.
// "" and a message in `error` when there is none.
std::string findBundle(const std::string &plugin, std::string &error);

// Loads the bundle and, with `makeInstance`, creates an instance in the
// general context. False with the reason in `error`.
bool openSession(const std::string &plugin, bool makeInstance, PluginSession &session, std::string &error);

// Renders the whole of a width x height frame: at once on one thread, else
// as bands of rows that `threads` threads take in turn, as a host does with a
// fully safe effect. An interruption stops it between tiles (kOfxStatFailed).
OfxStatus renderFrame(PluginSession &session, double time, int width, int height, int threads);

// Passes on the messages the plug-in raised since the last call, errors to
// `err`, the rest to `out`, and forgets them.
void passOnMessages(PluginSession &session, std::ostream &out, std::ostream &err);

// Presses an export button with `temp` as the export path. What the plug-in
// says goes to `notes`, with the temporary name shown as `finalPath`, to be
// passed on once the file is in place. False with the message in `error`
// when the plug-in reported an error or wrote nothing.
bool pressExport(PluginSession &session, const std::string &button, const std::string &temp,
                 const std::string &finalPath, std::vector<std::string> &notes, std::string &error);

void replaceAll(std::string &text, const std::string &from, const std::string &to);

}  // namespace tbcli

#endif
