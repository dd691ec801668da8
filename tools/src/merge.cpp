// merge.cpp: the mail merge: one template expanded for each record of a file, the plug-in set up once.
#include <iostream>
#include <optional>

#include "expand.h"
#include "merge_names.h"
#include "merge_ordered.h"
#include "merge_pool.h"
#include "merge_record.h"
#include "merge_records.h"
#include "merge_report.h"
#include "merge_writer.h"
#include "progress.h"

namespace moravel::tool {

namespace {

// The records read, expanded and written one after another.
int mergeInTurn(const ExpandOptions& o, Session& s, MergeRecords& records, const NamePattern* pattern,
                MergeWriter& writer) {
  RecordExpander expander({.options = &o, .session = &s, .pattern = pattern, .header = &records.header()});
  FailureReport report(o.keepGoing);
  Progress progress(o.quiet);
  Record rec;
  for (;;) {
    try {
      if (!records.next(rec)) break;
      Expanded e = expander.expand(rec, records.where());
      writer.write(*e.text, e.name, e.dirs, records.where());
    } catch (const Failure& f) {
      progress.done();
      if (!o.keepGoing) {
        writer.flush();  // the records expanded before a failure stay written
        throw;
      }
      // The rows after a broken one cannot be trusted.
      if (!report.note(f, records.csv() && dynamic_cast<const DataError*>(&f))) break;
    }
    progress.tick(writer.written() + report.failed(), records.fraction());
  }
  progress.done();
  s.host.onUnanswered(nullptr);
  writer.finish();
  report.summary(writer.written());
  return report.status();
}

}  // namespace

int runMerge(const ExpandOptions& o) {
  checkInputs(o);
  bool unicode = o.common.unicode();
  MergeRecords records(o);
  std::optional<NamePattern> pattern;
  if (!o.output.empty() && o.output != "-") pattern.emplace(o.output);
  std::string separator = o.separator ? unescapeSeparator(*o.separator) : "";
  if (pattern && o.separator) throw Failure{kExitUsage, "--separator joins records on standard output; -o names a file for each"};

  Text templ = readTemplate(o.templ, unicode);
  DataSet data = gatherData(o);
  records.open();
  auto s = prepareSession(o, data);
  s->host.setText(kTemplateVar, std::move(templ));
  s->host.setText(kOutVar, U"");
  MergeWriter writer(pattern ? &*pattern : nullptr, separator, unicode);
  int jobs = o.jobs == 0 ? coresAvailable() : o.jobs;
  if (jobs == 1) return mergeInTurn(o, *s, records, pattern ? &*pattern : nullptr, writer);
  return mergeInParallel({.options = &o, .session = s.get(), .pattern = pattern ? &*pattern : nullptr,
                          .header = &records.header()},
                         records, writer, jobs);
}

}  // namespace moravel::tool
