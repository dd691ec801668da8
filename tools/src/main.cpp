// moravel: expand templates with the Moravel plug-in from the command line.
//
// The plug-in library is loaded at run time (see session.h for where it is
// looked for). The tool is a host: it answers the plug-in's requests from
// the data files' variables, lists and methods. Exit statuses: the plug-in's
// result codes and those of exit_status.h; help.cpp lists them for users.
#include <CLI/CLI.hpp>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "expand.h"
#include "help.h"
#include "output.h"
#include "moravel/text.h"
#include "process.h"
#include "session.h"
#include "tags.h"
#include "version.h"

using namespace moravel;
using namespace moravel::tool;

namespace {

const std::vector<std::string> kSubcommands = {"expand", "check", "tags", "version"};

void addCommon(CLI::App* app, Common& c) {
  app->add_option("--build", c.build,
                  "Plug-in build to load: unicode (default) or 8bit; with --plugin, the library's own build")
      ->check(CLI::IsMember({"unicode", "8bit"}));
  app->add_option("--plugin", c.plugin, "Load this plug-in library file instead of searching for it");
}

// The first argument names a subcommand, or is an option of the tool itself.
void checkSubcommand(int argc, char** argv) {
  if (argc < 2) throw Failure{kExitUsage, "a subcommand is required: expand, check, tags or version"};
  std::string first = argv[1];
  if (first.empty() || first[0] != '-') {
    for (const auto& s : kSubcommands)
      if (first == s) return;
    throw Failure{kExitUsage, "unknown subcommand '" + first + "' (expected expand, check, tags or version)"};
  }
}

// Help goes to standard output too, and a failed write of it is reported.
int printedHelp(int status) {
  std::cout.flush();
  if (!std::cout) throw Failure{kExitCantCreate, "standard output: cannot write the help"};
  return status;
}

int run(int argc, char** argv) {
  CLI::App app{"moravel: expand templates with the Moravel plug-in"};
  app.require_subcommand(0, 1);
  app.footer(help::general());
  bool showVersion = false;
  app.add_flag("--version", showVersion, "Print the tool's version and the plug-in builds' versions");

  ExpandOptions ex;
  auto* expand = app.add_subcommand("expand", "Expand a template and write the expanded text");
  expand->footer(help::expand());
  expand->add_option("TEMPLATE", ex.templ, "Template file, or - for standard input")->required();
  expand->add_option("--data", ex.data, "JSON data file (repeatable: merged in order, later names winning; - for "
                                        "standard input)")
      ->allow_extra_args(false);
  expand->add_option("-D,--define", ex.defines, "name=value: a text variable, over the data files (repeatable)")
      ->allow_extra_args(false);
  expand->add_option("--files-dir", ex.filesDir, "Directory from which FILE= tags include files");
  expand->add_option("--tags", ex.tags, "Open and close tag")->expected(2);
  expand->add_option("--utf", ex.utf, "Output encoding: 0 none, 1 named, 2 decimal, 3 hexadecimal references")
      ->check(CLI::Range(0, 3));
  expand->add_flag("--force-eval", ex.forceEval, "Evaluate field tags as calculations");
  expand->add_flag("--strip-linebreaks", ex.stripLinebreaks, "Remove line breaks inside tag texts");
  expand->add_flag("--sense-brackets", ex.senseBrackets, "Evaluate bracketed field values and files");
  expand->add_flag("--strict", ex.strict,
                   "Fail with 65, writing nothing, when a tag reads an undefined name or a calculation or "
                   "method fails; each is listed once, at the line and column of its first tag");
  expand->add_option("-o,--output", ex.output,
                     "Write the expanded text to this file (replaced only when complete); with --each, a pattern "
                     "naming a file for each record: {n}, {n:05}, {name}");
  expand->add_option("--each", ex.each,
                     "Mail merge: expand the template once for each record of this JSON Lines or CSV file "
                     "(- for standard input)");
  expand->add_option("--each-format", ex.eachFormat, "The records' form when their file's name does not say it")
      ->check(CLI::IsMember({"jsonl", "csv", "tsv"}));
  expand->add_option("--delimiter", ex.delimiter,
                     "With CSV records: the character between fields: ',' (the default), ';' or tab "
                     "(the default of .tsv)")
      ->check(CLI::IsMember({",", ";", "tab", "\t", "\\t"}));
  expand->add_option("--escape", ex.escape,
                     "html: every value the host hands the plug-in (variables, records, -D, calculation and "
                     "method results) is written with &amp; &lt; &gt; &quot; &#39;; template text and included "
                     "files are not, and a TAGGED value's tags are shown, not expanded")
      ->check(CLI::IsMember({"html", "none"}));
  expand->add_option("--separator", ex.separator, "With --each: text between the records on standard output "
                                                  "(\\n, \\0 and \\f allowed)");
  expand->add_flag("--keep-going", ex.keepGoing,
                   "With --each: go on after a record that fails, exit with the first failure's status and count "
                   "the records that succeeded and failed");
  expand->add_flag("-q,--quiet", ex.quiet, "With --each: no progress line on a terminal");
  expand->add_option("-j,--jobs", ex.jobs,
                     "With --each: expand the records in this many worker processes (0: one for each processor; "
                     "default 1), written in record order as one process writes them")
      ->check(CLI::Range(0, 256));
  expand->add_option("--records", ex.records,
                     "With --each: only the records numbered FROM to TO of the file (FROM-TO, or FROM- for the "
                     "rest), {n} keeping their numbers");
  addCommon(expand, ex.common);

  ExpandOptions ck;
  auto* check = app.add_subcommand("check", "Report what --strict finds in a template, writing nothing");
  check->footer(help::check());
  check->add_option("TEMPLATE", ck.templ, "Template file, or - for standard input")->required();
  check->add_option("--data", ck.data, "JSON data file (repeatable, as with expand)")->allow_extra_args(false);
  check->add_option("-D,--define", ck.defines, "name=value: a text variable, over the data files (repeatable)")
      ->allow_extra_args(false);
  check->add_option("--files-dir", ck.filesDir, "Directory from which FILE= tags include files");
  check->add_option("--tags", ck.tags, "Open and close tag")->expected(2);
  check->add_flag("--force-eval", ck.forceEval, "Evaluate field tags as calculations");
  check->add_flag("--strip-linebreaks", ck.stripLinebreaks, "Remove line breaks inside tag texts");
  check->add_flag("--sense-brackets", ck.senseBrackets, "Evaluate bracketed field values and files");
  check->add_option("--each", ck.each, "Check the template with each record of this JSON Lines or CSV file, as "
                                       "expand --each reads it (- for standard input)");
  check->add_option("--each-format", ck.eachFormat, "The records' form when their file's name does not say it")
      ->check(CLI::IsMember({"jsonl", "csv", "tsv"}));
  check->add_option("--delimiter", ck.delimiter, "With CSV records: ',' (the default), ';' or tab")
      ->check(CLI::IsMember({",", ";", "tab", "\t", "\\t"}));
  addCommon(check, ck.common);

  Common tagsCommon;
  std::string tagsTemplate;
  std::vector<std::string> tagsTags;
  auto* tags = app.add_subcommand("tags", "List the tags of a template as a JSON array");
  tags->footer(help::tags());
  tags->add_option("TEMPLATE", tagsTemplate, "Template file, or - for standard input")->required();
  tags->add_option("--tags", tagsTags, "Open and close tag")->expected(2);
  addCommon(tags, tagsCommon);

  Common versionCommon;
  auto* version = app.add_subcommand("version", "Print the plug-in's version");
  version->footer(help::version());
  addCommon(version, versionCommon);

  try {
    checkSubcommand(argc, argv);
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return printedHelp(app.exit(e));
  } catch (const CLI::CallForAllHelp& e) {
    return printedHelp(app.exit(e));
  } catch (const CLI::ParseError& e) {
    throw Failure{kExitUsage, std::string(e.what()) + "\nRun 'moravel --help' for usage."};
  }
  if (showVersion && (*expand || *check || *tags || *version))
    throw Failure{kExitUsage, "--version takes no subcommand; for the plug-in's version alone: moravel version"};
  if (*expand) {
    if (!ex.each && (!ex.eachFormat.empty() || ex.separator || ex.keepGoing || !ex.delimiter.empty() ||
                     ex.jobs != 1 || !ex.records.empty()))
      throw Failure{kExitUsage,
                    "--each-format, --delimiter, --separator, --keep-going, --jobs and --records go with --each"};
    resolvePlugin(ex.common);
    return runExpand(ex);
  }
  if (*check) {
    if (!ck.each && (!ck.eachFormat.empty() || !ck.delimiter.empty()))
      throw Failure{kExitUsage, "--each-format and --delimiter go with --each"};
    resolvePlugin(ck.common);
    return runCheck(ck);
  }
  if (*tags) {
    resolvePlugin(tagsCommon);
    return runTags(tagsCommon, tagsTemplate, tagsTags);
  }
  if (*version) {
    resolvePlugin(versionCommon);
    return runVersion(versionCommon);
  }
  if (showVersion) return runToolVersion();
  throw Failure{kExitUsage, "a subcommand is required: expand, check, tags or version"};
}

}  // namespace

int main(int argc, char** argv) {
  prepareProcess();
  try {
    return run(argc, argv);
  } catch (const Failure& f) {
    std::cerr << "moravel: " << f.what() << "\n";
    return f.status;
  } catch (const std::bad_alloc&) {
    std::cerr << "moravel: out of memory\n";
    return kExitNoMemory;
  } catch (const std::invalid_argument& e) {
    std::cerr << "moravel: " << e.what() << "\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "moravel: internal error: " << e.what() << "\n";
    return kExitInternal;
  }
}
