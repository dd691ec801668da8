// merge.cpp: the mail merge: one template expanded for each record of a file, the plug-in set up once.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>
#include <unordered_set>

#include "expand.h"
#include "findings.h"
#include "places.h"
#include "moravel/text.h"
#include "name_pattern.h"
#include "output.h"
#include "records.h"
#include "text_io.h"

namespace moravel::tool {

namespace {

// --separator with \n, \0, \f and \\ for the bytes they name.
std::string unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 'n') out += '\n';
    else if (c == '0') out += '\0';
    else if (c == 'f') out += '\f';
    else if (c == '\\') out += '\\';
    else throw Failure{kExitUsage, "--separator: unknown escape \\" + std::string(1, c) + " (expected \\n, \\0, \\f or \\\\)"};
  }
  return out;
}

// FNV-1a, 64 bits.
std::uint64_t hashOf(const std::string& s) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

// A record's variables and lists laid over the common data, and taken away
// again: what each name held before is put back, or the name removed. A
// record's fields are exchanged with the host's values, so that neither
// side's storage is copied or freed; the steps are kept for the next record.
// The host's slot for each field is kept too, and used again while the
// records name the same fields in the same order.
class Overlay {
 public:
  void apply(Host& host, Record& r) {
    for (std::size_t i = 0; i < r.fields.count; ++i) {
      Field& f = r.fields.all[i];
      bool existed = false;
      if (host.exchange(slotFor(host, i, f.name), f.value, existed)) {
        steps_.push_back({Step::Exchanged, i, existed});
      } else {
        save(host, f.name);  // a list of the common data
        host.set(f.name, f.value);
      }
    }
    for (auto& [name, v] : r.data.variables) {
      save(host, name);
      host.set(name, std::move(v));
    }
    for (auto& [name, l] : r.data.lists) {
      save(host, name);
      host.setList(name, std::move(l));
    }
  }
  void undo(Host& host, Record& r) {
    for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
      if (it->kind == Step::Saved) {
        Saved& s = saved_[it->index];
        if (s.value) host.set(s.name, std::move(*s.value));
        else if (s.list) host.setList(s.name, std::move(*s.list));
        else host.remove(s.name);
        continue;
      }
      Field& f = r.fields.all[it->index];
      Host::VarSlot slot = slots_[it->index].slot;
      bool there = false;
      // The call may have made the name a list: the value is put back all the same.
      if (!host.exchange(slot, f.value, there)) host.set(f.name, std::move(f.value));
      if (!it->existed) host.remove(slot);
    }
    steps_.clear();
    saved_.clear();
  }

 private:
  struct Step {
    enum Kind { Exchanged, Saved } kind;
    std::size_t index;  // in the record's fields, or in saved_
    bool existed;       // Exchanged: whether the name had a variable before
  };
  struct Saved {
    std::u32string name;
    std::optional<Value> value;
    std::optional<List> list;
  };
  struct Known {
    std::u32string name;
    Host::VarSlot slot;
  };
  // The slot of the record's field i, looked up only when the field's name
  // is not the one it had in the record before.
  Host::VarSlot slotFor(Host& host, std::size_t i, const std::u32string& name) {
    if (i < slots_.size() && slots_[i].name == name) return slots_[i].slot;
    Host::VarSlot slot = host.varSlot(name);
    if (i == slots_.size()) slots_.push_back({name, slot});
    else slots_[i] = {name, slot};
    return slot;
  }
  void save(const Host& host, const std::u32string& name) {
    saved_.push_back({name, host.value(name), std::nullopt});
    if (!saved_.back().value) saved_.back().list = host.list(name);
    steps_.push_back({Step::Saved, saved_.size() - 1, false});
  }
  std::vector<Step> steps_;
  std::vector<Saved> saved_;
  std::vector<Known> slots_;  // by the index of the field
};

// One line on a terminal's standard error while a run lasts more than a
// second: records done, records a second, and the time left where the
// records' size is known.
class Progress {
 public:
  explicit Progress(bool quiet) : on_(!quiet && ::isatty(STDERR_FILENO)), start_(Clock::now()) {}
  void tick(long done, double fraction) {
    if (!on_) return;
    auto now = Clock::now();
    double elapsed = std::chrono::duration<double>(now - start_).count();
    if (elapsed < 1 || std::chrono::duration<double>(now - last_).count() < 0.2) return;
    last_ = now;
    char line[160];
    int n = std::snprintf(line, sizeof line, "\rmoravel: %ld records, %.0f a second", done, done / elapsed);
    if (fraction > 0 && fraction < 1)
      n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), ", about %.0f s left",
                         elapsed * (1 - fraction) / fraction);
    std::fprintf(stderr, "%s   ", line);
    shown_ = true;
  }
  // Ends the line, so that later messages start on their own.
  void done() {
    if (shown_) std::fprintf(stderr, "\n");
    shown_ = false;
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool on_, shown_ = false;
  Clock::time_point start_, last_;
};

struct Run {
  const ExpandOptions& o;
  Session& s;
  std::optional<NamePattern> pattern;
  std::string separator;
  std::optional<Output> out;  // standard output, when there is no pattern
  // The names written so far, as 64-bit hashes: a few bytes a record. A
  // pattern of the record's number and fixed text alone names each file
  // once, and keeps nothing.
  std::unordered_set<std::uint64_t> files;
  Findings findings;
  long written = 0;
  std::string madeDirs;  // the pattern's directories last made
  const std::vector<std::u32string>* header = nullptr;  // the CSV header
  Overlay overlay;
  const Places* places = nullptr;  // with --strict: where the template's tags stand

  // A template that reads names no record has, and none of the header's,
  // was given records it does not fit (another header, another delimiter):
  // said at the first record rather than expanded with every field empty.
  // Names read in calculations and methods are not seen, so then nothing is said.
  void checkHeaderIsRead(const std::string& where) {
    const HostLog& log = s.host.log();
    bool unseen = !log.calcTexts.empty() || !log.procedureNames.empty();
    std::set<std::u32string> columns(header->begin(), header->end());
    std::vector<std::u32string> missing;
    bool readsHeader = false;
    for (const auto& c : *header)
      readsHeader = readsHeader || (pattern && pattern->reads(s.unicode ? encodeUtf8(c) : toLatin1(c)));
    for (const auto& name : log.namedValueNames) {
      if (columns.count(name)) readsHeader = true;
      else if (!name.empty() && name[0] != U'$' && !s.host.has(name) &&
               std::find(missing.begin(), missing.end(), name) == missing.end())
        missing.push_back(name);
    }
    s.host.keepRequestTexts(false);
    s.host.clearLog();
    if (unseen || readsHeader || missing.empty()) return;
    auto joined = [](const std::vector<std::u32string>& names) {
      std::string t;
      for (const auto& n : names) t += (t.empty() ? "'" : ", '") + encodeUtf8(n) + "'";
      return t;
    };
    throw DataError(where + ": the template reads none of the header's names (" + joined(*header) + "), and " +
                    joined(missing) + (missing.size() == 1 ? " has" : " have") + " no value; nothing written");
  }

  void makeDirectories(const std::string& dirs) {
    if (dirs.empty() || dirs == madeDirs) return;
    std::error_code ec;
    std::filesystem::create_directories(dirs, ec);
    if (ec) throw OutputError(dirs + ": cannot make the output's directory: " + ec.message());
    madeDirs = dirs;
  }

  // One record expanded and written; Failure when it cannot be.
  void expand(Record& rec, const std::string& where) {
    try {
      overlay.apply(s.host, rec);
      expandOverlaid(rec, where);
    } catch (...) {
      overlay.undo(s.host, rec);
      throw;
    }
    overlay.undo(s.host, rec);
  }

  void expandOverlaid(const Record& rec, const std::string& where) {
    bool first = rec.number == 1 && header && !header->empty();
    if (first) s.host.keepRequestTexts(true);
    CallResult r = s.host.call(kDoSubstitutions, substitutionArgs(o, Arg::reference(std::u32string(kTemplateVar)),
                                                                  Arg::reference(std::u32string(kOutVar))));
    if (first) checkHeaderIsRead(where);
    if (r.code() != 0) checkSubstitution(s, o, r, where + ": DoSubstitutions", places);
    if (!findings.empty()) {
      findings.report(where, places);
      findings.clear();
      throw Failure{kExitStrict, where + (o.check ? ": check: the host could not answer what is listed above"
                                                  : ": --strict: the host could not answer what is listed above; "
                                                    "nothing written")};
    }
    if (o.check) {  // found nothing; writes nothing
      ++written;
      return;
    }
    static const Text kEmpty;
    const Text* text = s.host.storedText(kOutVar);
    try {
      if (pattern) {
        std::string dirs;
        std::string name = pattern->expand(
            rec.number,
            [&](const std::string& variable) -> std::optional<std::string> {
              std::optional<Value> v = s.host.value(toText(variable, s.unicode, "-o"));
              if (!v) return std::nullopt;
              return s.unicode ? encodeUtf8(v->asText()) : toLatin1(v->asText());
            },
            where, dirs);
        if (pattern->namesByValue() && !files.insert(hashOf(name)).second)
          throw Failure{kExitUsage, where + ": " + name + " is named by an earlier record too; not written again"};
        makeDirectories(dirs);
        Output file(name);
        writeText(text ? *text : kEmpty, s.unicode, file);
        file.commit();
      } else {
        if (written > 0) out->write(separator.data(), separator.size());
        writeText(text ? *text : kEmpty, s.unicode, *out);
      }
    } catch (const OutputError& e) {
      throw Failure{kExitCantCreate, e.what()};
    }
    ++written;
  }
};

// The records expanded before a failure stay written.
void flushRecords(Run& run) {
  try {
    if (run.out) run.out->flush();
  } catch (const OutputError&) {
    // The failure being reported is the one that ends the run.
  }
}

}  // namespace

int runMerge(const ExpandOptions& o) {
  checkInputs(o);
  bool unicode = o.common.unicode();
  RecordFormat format = o.eachFormat.empty() ? recordFormatOf(*o.each)
                        : o.eachFormat == "csv" ? RecordFormat::Csv
                        : o.eachFormat == "tsv" ? RecordFormat::Tsv
                                                : RecordFormat::JsonLines;
  if (!o.delimiter.empty() && format == RecordFormat::JsonLines)
    throw Failure{kExitUsage, "--delimiter goes with CSV records, not JSON Lines"};
  char delimiter = o.delimiter.empty() ? 0 : o.delimiter == "," || o.delimiter == ";" ? o.delimiter[0] : '\t';
  std::optional<NamePattern> pattern;
  if (!o.output.empty() && o.output != "-") pattern.emplace(o.output);
  std::string separator = o.separator ? unescape(*o.separator) : "";
  if (pattern && o.separator) throw Failure{kExitUsage, "--separator joins records on standard output; -o names a file for each"};

  Text templ = readTemplate(o.templ, unicode);
  DataSet data = gatherData(o);
  TagReading reading = o.strict ? readingOf(o.forceEval, o.stripLinebreaks, data) : TagReading{};
  RecordReader reader(*o.each, format, !unicode, delimiter);
  auto s = prepareSession(o, data);
  s->host.setText(kTemplateVar, std::move(templ));
  s->host.setText(kOutVar, U"");
  Run run{o, *s, std::move(pattern), separator, std::nullopt, {}, {}, 0, {}, &reader.header(), {}};
  if (!run.pattern) {
    run.out.emplace("");
    run.out->buffer();
  }
  std::optional<Places> places;
  if (o.strict) {
    run.findings.listen(s->host);
    places.emplace(*s, s->host.storedText(kTemplateVar)->str(), o.tags, displayName(o.templ), std::move(reading));
    run.places = &*places;
    warnUnclosed(*places);
  }

  Progress progress(o.quiet);
  long failed = 0;
  int firstStatus = 0;
  Record rec;
  std::string where;  // refilled for each record, its storage kept
  auto describe = [&](long number, long line) {
    where.assign(reader.what()).append(": record ").append(std::to_string(number));
    if (line) where.append(" (line ").append(std::to_string(line)).append(")");
  };
  for (;;) {
    describe(rec.number + 1, 0);
    try {
      if (!reader.next(rec)) break;
      describe(rec.number, rec.line);
      run.expand(rec, where);
    } catch (const Failure& f) {
      progress.done();
      if (!o.keepGoing) {
        flushRecords(run);
        throw;
      }
      std::cerr << "moravel: " << f.what() << "\n";
      ++failed;
      if (!firstStatus) firstStatus = f.status;
      // The rows after a broken one cannot be trusted.
      if (format != RecordFormat::JsonLines && dynamic_cast<const DataError*>(&f)) break;
    }
    progress.tick(run.written + failed, reader.fraction());
  }
  progress.done();
  s->host.onUnanswered(nullptr);
  if (run.out) {
    try {
      run.out->commit();
    } catch (const OutputError& e) {
      throw Failure{kExitCantCreate, e.what()};
    }
  }
  if (o.keepGoing && !(o.check && failed == 0))
    std::cerr << "moravel: " << run.written << (run.written == 1 ? " record" : " records")
              << (o.check ? " passed, " : " expanded, ") << failed << " failed\n";
  return firstStatus;
}

}  // namespace moravel::tool
