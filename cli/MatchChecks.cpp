// The checks of a match made before anything is read or written.
#include <map>
#include <set>

#include "cli/MatchJob.h"

namespace tbcli {

namespace {

// Every output of every frame can be written: its folder is there, it is a
// file or nothing yet, and its format has a writer.
std::string checkOutputs(const MatchJob &job) {
  for (int frame : job.frames) {
    for (const FramePattern *p : {&job.output, &job.cube, &job.cdl, &job.compare}) {
      if (p->text().empty() || (frame != job.frames.front() && !p->isSequence())) continue;
      const std::string problem = checkOutputPath(p->path(frame));
      if (!problem.empty()) return problem;
    }
  }
  for (const FramePattern *p : {&job.output, &job.compare}) {
    if (!p->text().empty() && !canWriteFormat(p->path(job.frames.front())))
      return "no image format for the extension of '" + p->text() + "'";
  }
  return std::string();
}

// No output is an input or another output, whatever the spelling, for any
// frame: files are compared by what they are, not by their names.
std::string checkNameClashes(const MatchJob &job) {
  struct Named {
    const char *role;
    const FramePattern *pattern;
  };
  const Named inputs[] = {{"SOURCE", &job.source},
                          {"REFERENCE", &job.reference},
                          {"--source-mask", &job.sourceMask.pattern},
                          {"--reference-mask", &job.referenceMask.pattern}};
  const Named outputs[] = {
      {"OUTPUT", &job.output}, {"--compare", &job.compare}, {"--cube", &job.cube}, {"--cdl", &job.cdl}};
  FileIdentities identities;
  std::map<std::string, const Named *> inputFiles, outputFiles;
  std::set<std::string> seen;
  for (int frame : job.frames) {
    for (const Named &in : inputs) {
      if (in.pattern->text().empty()) continue;
      const std::string path = in.pattern->path(frame);
      if (seen.insert(path).second) inputFiles.emplace(identities.of(path), &in);
    }
  }
  for (int frame : job.frames) {
    for (const Named &out : outputs) {
      if (out.pattern->text().empty() || (frame != job.frames.front() && !out.pattern->isSequence())) continue;
      const std::string identity = identities.of(out.pattern->path(frame));
      auto input = inputFiles.find(identity);
      if (input != inputFiles.end())
        return out.role + std::string(" '") + out.pattern->text() + "' is the same file as " + input->second->role +
               " '" + input->second->pattern->text() + "': an output never replaces an input";
      auto other = outputFiles.emplace(identity, &out);
      if (!other.second)
        return out.role + std::string(" '") + out.pattern->text() + "' and " + other.first->second->role + " '" +
               other.first->second->pattern->text() + "' are the same file";
    }
  }
  return std::string();
}

// Every input file of every frame is there.
std::string checkInputs(const MatchJob &job) {
  std::set<std::string> checked;
  for (int frame : job.frames) {
    for (const FramePattern *p : {&job.source, &job.reference, &job.sourceMask.pattern, &job.referenceMask.pattern}) {
      if (p->text().empty()) continue;
      const std::string path = p->path(frame);
      if (!checked.insert(path).second) continue;
      const std::string problem = inputProblem(path);
      if (problem.empty()) continue;
      // A name that would be a pattern with --frames may be meant as one.
      const bool pattern = !job.o.framesGiven && FramePattern(path, true).isSequence();
      return "cannot read image '" + path + "': " + problem +
             (pattern ? " (for a sequence, give its frames with --frames FIRST-LAST)" : "");
    }
  }
  return std::string();
}

}  // namespace

std::string checkMatchJob(const MatchJob &job) {
  std::string problem = checkOutputs(job);
  if (problem.empty()) problem = checkInputs(job);
  if (problem.empty()) problem = checkNameClashes(job);
  return problem;
}

}  // namespace tbcli
