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
#include "places.h"
#include "progress.h"

namespace moravel::tool {

namespace {

// The records read, expanded and written one after another.
int mergeInTurn(const RecordExpander::Setup& setup, MergeRecords& records, MergeWriter& writer) {
  const ExpandOptions& o = *setup.options;
  RecordExpander expander(setup);
  FailureReport report(o.keepGoing, o.check);
  Progress progress(o.quiet);
  Record rec;
  for (;;) {
    try {
      if (!records.next(rec)) break;
      Expanded e = expander.expand(rec, records.where());
      if (o.check)  // found nothing; writes nothing
        writer.accept(e.name, records.where());
      else
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
  setup.session->host.onUnanswered(nullptr);
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
  TagReading reading = o.strict ? readingOf(o.forceEval, o.stripLinebreaks, data) : TagReading{};
  records.open();
  auto s = prepareSession(o, data);
  s->host.setText(kTemplateVar, std::move(templ));
  s->host.setText(kOutVar, U"");
  // With --strict, where the template's tags stand, for the findings' messages.
  std::optional<Places> places;
  if (o.strict) {
    places.emplace(*s, s->host.storedText(kTemplateVar)->str(), o.tags, displayName(o.templ), std::move(reading));
    warnUnclosed(*places);
  }
  MergeWriter writer(pattern ? &*pattern : nullptr, separator, unicode);
  RecordExpander::Setup setup{.options = &o,
                              .session = s.get(),
                              .pattern = pattern ? &*pattern : nullptr,
                              .header = &records.header(),
                              .places = places ? &*places : nullptr};
  int jobs = o.jobs == 0 ? coresAvailable() : o.jobs;
  // A check writes nothing, so it has no letters to share among workers.
  if (jobs == 1 || o.check) return mergeInTurn(setup, records, writer);
  return mergeInParallel(setup, records, writer, jobs);
}

}  // namespace moravel::tool
