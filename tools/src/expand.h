// expand.h: the expand subcommand: a template expanded with the data given, the result written out whole or not at all.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "data_file.h"
#include "session.h"

namespace moravel::tool {

struct ExpandOptions {
  Common common;
  std::string templ;
  std::vector<std::string> data;     // data files in order, later keys winning; "-": standard input
  std::vector<std::string> defines;  // "name=value" text variables, over the data files
  std::optional<std::string> filesDir;
  std::vector<std::string> tags;
  int utf = 0;
  bool forceEval = false, stripLinebreaks = false, senseBrackets = false;
  bool strict = false;  // report what the host could not answer and fail with 65
  bool check = false;   // strict, and nothing is written: the check subcommand
  std::string escape;   // "html": values handed to the plug-in are escaped for HTML
  std::string output;    // a file; with `each`, a pattern of file names
  // Mail merge: the template expanded once for each record of this file.
  std::optional<std::string> each;
  std::string eachFormat;  // "jsonl", "csv", "tsv", or "" to go by the file's name
  std::string delimiter;   // between CSV fields: ",", ";", "tab"; "" for the format's own
  std::optional<std::string> separator;  // between records on standard output
  bool keepGoing = false, quiet = false;
  int jobs = 1;         // worker processes for --each; 0: one for each processor available
  std::string records;  // "FROM-TO": only these records of --each, numbered as in the file
};

int runExpand(const ExpandOptions& o);
// The check subcommand: what --strict finds, said without writing anything.
int runCheck(ExpandOptions o);

// What a single expansion and a merge share.
// Usage errors of the inputs: standard input named more than once.
void checkInputs(const ExpandOptions& o);
// The data files merged in order, then the -D variables over them; Failure (64) for bad data.
DataSet gatherData(const ExpandOptions& o);
// The plug-in loaded with the run's tags, files directory and data, which it takes.
std::unique_ptr<Session> prepareSession(const ExpandOptions& o, DataSet& data);
// The template lives in a host variable of the tool's own, so that each
// call reads the one template in place.
constexpr std::u32string_view kTemplateVar = U"#MORAVELTEMPLATE";
// The expanded text lives in a host variable of the tool's own too.
constexpr std::u32string_view kOutVar = U"#MORAVELOUT";
// What a failed DoSubstitutions answer says: for a file that could not be
// opened or read, which one it was and where the template's tag behind it
// stands (from `places`, or from the template the host holds).
class Places;
void checkSubstitution(Session& s, const ExpandOptions& o, const CallResult& r, const std::string& what,
                       const Places* places = nullptr);
// An open tag without a close tag, said as a warning on standard error.
void warnUnclosed(const Places& places);

// DoSubstitutions' parameters: the template, the output and the options.
std::vector<Arg> substitutionArgs(const ExpandOptions& o, Arg templ, Arg out);

// The mail merge (merge.cpp).
int runMerge(const ExpandOptions& o);

}  // namespace moravel::tool
