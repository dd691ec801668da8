// moravel_bench: the shipped plug-in libraries, both unit widths, driven
// through the test host on generated workloads at three sizes, measured in
// the same run as memcpy of the same bytes and as two established template
// engines rendering the same page. Prints one table at the end.
#include <benchmark/benchmark.h>
#include <ctemplate/template.h>
#include <kainjow/mustache.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <malloc.h>
#include <linux/perf_event.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "moravel/host.h"
#include "moravel/text.h"
#include "workloads.h"

using moravel::Arg;
using moravel::Host;
using moravel::Width;

namespace {

constexpr int kScales[] = {1, 4, 16};

// ---- the process's allocator ----------------------------------------------

// bench/run.sh runs the benchmark twice: with the C library's allocator as
// it comes, then with MORAVEL_BENCH_HEAP=keep, which keeps large blocks in
// the heap. By default glibc maps a block above its mmap threshold (which
// grows to at most 32 MiB) afresh and unmaps it when freed, so each call of a
// large workload faults in and clears its large blocks again. Keeping the
// heap turns mmap off and never trims, so freed blocks are reused. This is a
// setting of the benchmark process (the host's process), not of the plug-in;
// each pass is a process of its own, so neither inherits the other's heap.
bool gKeepHeap = false;

void tuneAllocator() {
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
}
constexpr int kFieldCount = 1000;  // distinct field names in W2 and W4

// ---- generated text -------------------------------------------------------

using moravel::bench::appendPlain;
using moravel::bench::Lcg;

// The seed of the run's names and values: MORAVEL_BENCH_SEED, else random.
std::uint64_t seed() {
  static const std::uint64_t s = []() -> std::uint64_t {
    if (const char* e = std::getenv("MORAVEL_BENCH_SEED"); e && *e) return std::strtoull(e, nullptr, 10);
    return static_cast<std::uint64_t>(std::random_device{}()) % 1000000;
  }();
  return s;
}

const moravel::bench::Fields& fields() {
  static const moravel::bench::Fields f = moravel::bench::makeFields(seed(), kFieldCount);
  return f;
}

// Built by appending: GCC 12 warns falsely about "literal" + std::string&&.
std::string prefixed(const char* prefix, int i) {
  std::string s(prefix);
  s += std::to_string(i);
  return s;
}

// W1: plain text without tags, 1 MiB a scale step.
std::string makePlain(int scale) {
  Lcg r(seed() + 1);
  std::string s;
  appendPlain(s, r, static_cast<std::size_t>(scale) << 20);
  return s;
}

// W2: a page with a field every ~100 characters, 6,250 fields a scale step.
// The marker builds the same page for each engine.
std::string makePage(int scale, const moravel::bench::Marker& marker) {
  return moravel::bench::makePage(fields(), seed() + 2, static_cast<std::size_t>(6250 * scale), marker);
}

using moravel::bench::moravelMarker;
std::string ctemplateMarker(const std::string& name) { return "{{" + name + "}}"; }
std::string mustacheMarker(const std::string& name) { return "{{{" + name + "}}}"; }

// W3: 1 MiB a scale step, 30% of the characters 160 to 255.
std::string makeLatin1(int scale) {
  Lcg r(seed() + 3);
  std::string s;
  std::size_t n = static_cast<std::size_t>(scale) << 20;
  s.reserve(n);
  while (s.size() < n) {
    if (r.below(10) < 3)
      s.push_back(static_cast<char>(160 + r.below(96)));
    else
      appendPlain(s, r, 1);
  }
  return s;
}

// W4: 625 TAGGEDFIELD= splices a scale step; each spliced value holds a
// further field tag.
std::string makeTagged(int scale) {
  Lcg r(seed() + 4);
  std::string s;
  int splices = 625 * scale;
  for (int t = 0; t < splices; ++t) {
    appendPlain(s, r, 20 + r.below(41));
    s += "<FIELD>TAGGEDFIELD=";
    s += prefixed("t", static_cast<int>(r.below(100)));
    s += "</FIELD>";
  }
  return s;
}

std::string taggedValue(int i) { return "Dear <FIELD>" + fields().names[static_cast<std::size_t>(i * 7 % kFieldCount)] + "</FIELD>, "; }

// W6: a 1 MiB file included 2 times a scale step, between runs of text.
constexpr std::size_t kFileBytes = 1 << 20;
std::string makeIncludes(int scale) {
  Lcg r(seed() + 6);
  std::string s;
  for (int t = 0; t < 2 * scale; ++t) {
    appendPlain(s, r, 100);
    s += "<FIELD>FILE=include.txt</FIELD>";
  }
  appendPlain(s, r, 100);
  return s;
}

// W7: a letter of about 2,000 characters with 20 fields (the first 20 of
// the run's fields, each used once on average), expanded by one call.
constexpr int kLetterFields = 20;
const moravel::bench::Fields& letterFields() {
  static const moravel::bench::Fields f = [] {
    moravel::bench::Fields l;
    l.names.assign(fields().names.begin(), fields().names.begin() + kLetterFields);
    l.values.assign(fields().values.begin(), fields().values.begin() + kLetterFields);
    return l;
  }();
  return f;
}
std::string makeLetter(const moravel::bench::Marker& marker) {
  return moravel::bench::makePage(letterFields(), seed() + 7, kLetterFields, marker);
}

// ---- the plug-in through the host ----------------------------------------

const char* widthName(Width w) { return w == Width::Byte ? "8" : "U"; }

struct Rig {
  Width width;
  std::unique_ptr<Host> host;
  std::filesystem::path dir;
};

// A plug-in loaded afresh into a host of its own, with the run's values and
// the included file in a directory named by `tag`.
std::unique_ptr<Rig> makeRig(Width w, const char* tag) {
  auto made = std::make_unique<Rig>();
  Rig& g = *made;
  g.width = w;
  g.host = std::make_unique<Host>(w == Width::Byte ? MORAVEL_LIB_BYTE : MORAVEL_LIB_UNICODE, w);
  g.host->keepRequestTexts(false);
  g.host->load();
  g.host->setText(U"out", U"");
  g.host->setText(U"tpl", U"");
  for (int i = 0; i < kFieldCount; ++i)
    g.host->setText(moravel::fromLatin1(fields().names[static_cast<std::size_t>(i)]),
                    moravel::Text::fromBytes(fields().values[static_cast<std::size_t>(i)]));
  for (int i = 0; i < 100; ++i)
    g.host->setText(moravel::fromLatin1(prefixed("t", i)), moravel::fromLatin1(taggedValue(i)));
  g.dir = std::filesystem::temp_directory_path() /
          (prefixed("moravel_bench_", static_cast<int>(::getpid())) + tag + widthName(w));
  std::filesystem::create_directories(g.dir);
  {
    Lcg r(seed() + 60);
    std::string file;
    appendPlain(file, r, kFileBytes);
    std::ofstream(g.dir / "include.txt", std::ios::binary) << file;
  }
  auto code = g.host->call(moravel::kSetFilesDirectory, {Arg::text(moravel::fromLatin1(g.dir.string() + "/"))}).code();
  if (code != 0) throw std::runtime_error("SetFilesDirectory failed");
  return made;
}

void dropRig(std::unique_ptr<Rig>& g) {
  if (!g) return;
  std::filesystem::path dir = g->dir;
  g.reset();
  std::filesystem::remove_all(dir);
}

// The rigs the timed workloads share, one a width.
std::map<Width, std::unique_ptr<Rig>> gRigs;

Rig& rig(Width w) {
  std::unique_ptr<Rig>& g = gRigs[w];
  if (!g) g = makeRig(w, "_");
  return *g;
}

void cleanupRigs() {
  for (auto& entry : gRigs) dropRig(entry.second);
}

int expand(Rig& g, int utfType) {
  std::vector<Arg> args{Arg::reference(U"tpl"), Arg::reference(U"out")};
  if (utfType > 0) args.push_back(Arg::number(utfType));
  return g.host->call(moravel::kDoSubstitutions, std::move(args)).code();
}

int tagList(Rig& g) {
  return g.host->call(moravel::kGetTagList, {Arg::reference(U"tpl"), Arg::reference(U"tags"), Arg::number(1)}).code();
}

std::size_t unitBytes(Width w) { return w == Width::Byte ? 1 : 4; }

std::string key(const std::string& w, Width width, int scale) {
  return w + "/" + widthName(width) + "/" + std::to_string(scale) + "x";
}

// ---- the host on its own -------------------------------------------------

// The requests one DoSubstitutions call of a text without tags makes, made by
// a probe plug-in that expands nothing: the text is read and written back.
// What this costs is the host's share of a call, the floor for any plug-in.
typedef short (*HostCallback)(int code, ...);
typedef void (*ProbeAction)(short md, void** ref, HostCallback callback, void* context);
typedef void (*ProbeSetActionFn)(ProbeAction action, void* context);

template <class U>
void echoCall(short md, void**, HostCallback cb, void*) {
  if (md != moravel::kCall) return;
  double count = 0;
  using namespace moravel::request;
  namespace field = moravel::field;
  cb(kGetFldInt, field::kParamCount, &count);
  std::int32_t len = 0;
  cb(kGetFldVal, field::kParam1, kFmtLength, 4, &len);
  U* text = static_cast<U*>(std::calloc(static_cast<std::size_t>(len) + 2, sizeof(U)));
  cb(kGetFldVal, field::kParam1, kFmtText, len, text);
  U empty[1] = {0};
  cb(kSetFldVal, field::kParam1 + 1, kFmtText, empty);
  cb(kSetFldVal, field::kParam1 + 1, kFmtText, text);
  double result = 0;
  cb(kSetFldInt, field::kReturn, &result);
  std::free(text);
}

void registerHostFloor(Width w, int scale) {
  std::string k = key("host", w, scale);
  benchmark::RegisterBenchmark(k.c_str(), [=](benchmark::State& state) {
    Host host(MORAVEL_BENCH_PROBE, w);
    host.keepRequestTexts(false);
    void* lib = dlopen(MORAVEL_BENCH_PROBE, RTLD_NOW | RTLD_NOLOAD);
    auto set = lib ? reinterpret_cast<ProbeSetActionFn>(dlsym(lib, "ProbeSetAction")) : nullptr;
    if (!set) {
      state.SkipWithError("no probe");
      return;
    }
    set(w == Width::Byte ? &echoCall<std::uint8_t> : &echoCall<std::uint32_t>, nullptr);
    host.setText(U"tpl", moravel::fromLatin1(makePlain(scale)));
    host.setText(U"out", U"");
    host.call(moravel::kDoSubstitutions, {Arg::reference(U"tpl"), Arg::reference(U"out")});
    for (auto _ : state) host.call(moravel::kDoSubstitutions, {Arg::reference(U"tpl"), Arg::reference(U"out")});
    if (host.text(U"out") != host.text(U"tpl")) state.SkipWithError("the probe's echo differs");
    set(nullptr, nullptr);
  })->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();
}

// ---- results --------------------------------------------------------------

struct Result {
  double seconds = 0;  // per call
};
std::map<std::string, Result> gResults;          // by benchmark name
std::map<std::string, std::size_t> gTextUnits;   // template length by workload/width/scale
std::map<std::string, double> gPeakRatio;        // peak memory of one call / text bytes
// What a call costs beyond its time once the plug-in's blocks are warm.
struct FixedCosts {
  double minorFaults = 0;
  std::optional<double> systemCalls;  // none where the system does not count them for us
};
std::map<std::string, FixedCosts> gFixedCosts;

constexpr int kSteadyCalls = 10000;

// A counter of the system calls this thread enters, through the kernel's
// tracepoint; -1 where it cannot be had (no tracefs, or not permitted).
int openSystemCallCounter() {
  std::ifstream idFile("/sys/kernel/tracing/events/raw_syscalls/sys_enter/id");
  unsigned long long id = 0;
  if (!(idFile >> id)) return -1;
  perf_event_attr attr{};
  attr.size = sizeof attr;
  attr.type = PERF_TYPE_TRACEPOINT;
  attr.config = id;
  attr.disabled = 1;
  return static_cast<int>(syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
}

// The minor page faults and system calls of a call, averaged over
// kSteadyCalls calls.
FixedCosts fixedCostsPerCall(const std::function<void()>& call) {
  int counter = openSystemCallCounter();
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  if (counter >= 0) ioctl(counter, PERF_EVENT_IOC_ENABLE, 0);
  for (int i = 0; i < kSteadyCalls; i++) call();
  if (counter >= 0) ioctl(counter, PERF_EVENT_IOC_DISABLE, 0);
  getrusage(RUSAGE_SELF, &after);
  FixedCosts c;
  c.minorFaults = static_cast<double>(after.ru_minflt - before.ru_minflt) / kSteadyCalls;
  std::uint64_t entered = 0;
  if (counter >= 0 && read(counter, &entered, sizeof entered) == static_cast<ssize_t>(sizeof entered))
    c.systemCalls = static_cast<double>(entered) / kSteadyCalls;
  if (counter >= 0) close(counter);
  return c;
}

class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration) continue;
      std::string name = r.benchmark_name();
      name = name.substr(0, name.find("/min_time"));
      gResults[name].seconds =
          r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
    }
    ConsoleReporter::ReportRuns(runs);
  }
};


// Peak resident memory one call adds, through the kernel's high-water mark.
std::optional<long> statusKb(const char* field) {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return std::nullopt;
}

std::optional<double> peakOfOneCall(const std::function<void()>& call) {
  std::ofstream reset("/proc/self/clear_refs");
  if (!reset) return std::nullopt;
  reset << "5";
  reset.close();
  auto before = statusKb("VmRSS:");
  call();
  auto peak = statusKb("VmHWM:");
  if (!before || !peak) return std::nullopt;
  return static_cast<double>(*peak - *before) * 1024.0;
}

// ---- registration ---------------------------------------------------------

// A workload that expands a template through DoSubstitutions.
void registerExpand(const std::string& name, Width w, int scale, std::function<std::string(int)> make,
                    int utfType, std::size_t extraUnits = 0) {
  std::string k = key(name, w, scale);
  bool tuned = gKeepHeap;
  benchmark::RegisterBenchmark(k.c_str(), [=](benchmark::State& state) {
    Rig& g = rig(w);
    moravel::Text text = moravel::Text::fromBytes(make(scale));
    std::size_t units = text.size() + extraUnits;
    g.host->setText(U"tpl", std::move(text));
    g.host->setText(U"out", U"");
    gTextUnits[k] = units;
    // The first call at a size grows every buffer and makes its pages
    // present; a call is timed as a long-lived host makes it, after one.
    if (expand(g, utfType) != 0) state.SkipWithError("DoSubstitutions failed");
    for (auto _ : state) {
      if (expand(g, utfType) != 0) {
        state.SkipWithError("DoSubstitutions failed");
        break;
      }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * units * unitBytes(w)));
    if (name == "W7" && !gFixedCosts.count(k)) gFixedCosts[k] = fixedCostsPerCall([&] { expand(g, utfType); });
    g.host->setText(U"out", U"");
    if (scale == 16 && !tuned) {  // a heap that keeps its blocks hides the peak
      auto peak = peakOfOneCall([&] { expand(g, utfType); });
      if (peak) gPeakRatio[k] = *peak / static_cast<double>(units * unitBytes(w));
      g.host->setText(U"out", U"");
    }
    g.host->setText(U"tpl", U"");
  })->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();
}

void registerTagList(Width w, int scale) {
  std::string k = key("W5", w, scale);
  bool tuned = gKeepHeap;
  benchmark::RegisterBenchmark(k.c_str(), [=](benchmark::State& state) {
    Rig& g = rig(w);
    moravel::Text text = moravel::Text::fromBytes(makePage(scale, moravelMarker));
    std::size_t units = text.size();
    g.host->setText(U"tpl", std::move(text));
    gTextUnits[k] = units;
    g.host->setList(U"tags", moravel::List{{U"tag"}, {}});
    if (tagList(g) != 0) state.SkipWithError("GetTagList failed");
    for (auto _ : state) {
      state.PauseTiming();
      g.host->setList(U"tags", moravel::List{{U"tag"}, {}});
      state.ResumeTiming();
      if (tagList(g) != 0) {
        state.SkipWithError("GetTagList failed");
        break;
      }
    }
    if (g.host->list(U"tags")->rows.size() != static_cast<std::size_t>(6250 * scale))
      state.SkipWithError("GetTagList listed the wrong number of tags");
    if (scale == 16 && !tuned) {
      g.host->setList(U"tags", moravel::List{{U"tag"}, {}});
      auto peak = peakOfOneCall([&] { tagList(g); });
      if (peak) gPeakRatio[k] = *peak / static_cast<double>(units * unitBytes(w));
    }
    g.host->setList(U"tags", moravel::List{{U"tag"}, {}});
    g.host->setText(U"tpl", U"");
  })->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();
}

void registerMemcpy(Width w, int scale) {
  std::string k = key("memcpy", w, scale);
  benchmark::RegisterBenchmark(k.c_str(), [=](benchmark::State& state) {
    std::size_t bytes = (static_cast<std::size_t>(scale) << 20) * unitBytes(w);
    std::vector<char> src(bytes, 'a'), dst(bytes, 0);
    for (auto _ : state) {
      std::memcpy(dst.data(), src.data(), bytes);
      benchmark::DoNotOptimize(dst.data());
      benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  })->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();
}

// The dictionary of W2's values, for each peer.
const ctemplate::TemplateDictionary& ctemplateDict() {
  static ctemplate::TemplateDictionary* d = [] {
    auto* dict = new ctemplate::TemplateDictionary("bench");
    for (int i = 0; i < kFieldCount; ++i) dict->SetValue(fields().names[static_cast<std::size_t>(i)], fields().values[static_cast<std::size_t>(i)]);
    return dict;
  }();
  return *d;
}

const kainjow::mustache::data& mustacheData() {
  static kainjow::mustache::data* d = [] {
    auto* data = new kainjow::mustache::data;
    for (int i = 0; i < kFieldCount; ++i) data->set(fields().names[static_cast<std::size_t>(i)], fields().values[static_cast<std::size_t>(i)]);
    return data;
  }();
  return *d;
}

std::string renderCtemplate(const std::string& text) {
  std::unique_ptr<ctemplate::Template> t(ctemplate::Template::StringToTemplate(text, ctemplate::DO_NOT_STRIP));
  std::string out;
  if (!t || !t->Expand(&out, &ctemplateDict())) throw std::runtime_error("ctemplate failed");
  return out;
}

std::string renderMustache(const std::string& text) {
  kainjow::mustache::mustache t(text);
  if (!t.is_valid()) throw std::runtime_error("mustache: " + t.error_message());
  return t.render(mustacheData());
}

// W7's peers, cold: the letter parsed, a dictionary of its 20 values made,
// and the letter rendered, for each call.
void registerLetterPeers() {
  benchmark::RegisterBenchmark("W7-ctemplate-cold", [](benchmark::State& state) {
    std::string text = makeLetter(ctemplateMarker);
    const auto& f = letterFields();
    for (auto _ : state) {
      ctemplate::TemplateDictionary dict("letter");
      for (int i = 0; i < kLetterFields; ++i) dict.SetValue(f.names[static_cast<std::size_t>(i)], f.values[static_cast<std::size_t>(i)]);
      std::unique_ptr<ctemplate::Template> t(ctemplate::Template::StringToTemplate(text, ctemplate::DO_NOT_STRIP));
      std::string out;
      t->Expand(&out, &dict);
      benchmark::DoNotOptimize(out);
    }
  })->Unit(benchmark::kMicrosecond)->MinTime(0.3)->UseRealTime();
  benchmark::RegisterBenchmark("W7-mustache-cold", [](benchmark::State& state) {
    std::string text = makeLetter(mustacheMarker);
    const auto& f = letterFields();
    for (auto _ : state) {
      kainjow::mustache::data data;
      for (int i = 0; i < kLetterFields; ++i) data.set(f.names[static_cast<std::size_t>(i)], f.values[static_cast<std::size_t>(i)]);
      kainjow::mustache::mustache t(text);
      benchmark::DoNotOptimize(t.render(data));
    }
  })->Unit(benchmark::kMicrosecond)->MinTime(0.3)->UseRealTime();
}

void registerPeers(int scale) {
  auto name = [&](const char* peer) { return prefixed(peer, scale) + "x"; };
  benchmark::RegisterBenchmark(name("ctemplate-cold/").c_str(), [=](benchmark::State& state) {
    std::string text = makePage(scale, ctemplateMarker);
    for (auto _ : state) benchmark::DoNotOptimize(renderCtemplate(text));
  })->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();
  benchmark::RegisterBenchmark(name("ctemplate-warm/").c_str(), [=](benchmark::State& state) {
    std::string text = makePage(scale, ctemplateMarker);
    std::unique_ptr<ctemplate::Template> t(ctemplate::Template::StringToTemplate(text, ctemplate::DO_NOT_STRIP));
    for (auto _ : state) {
      std::string out;
      t->Expand(&out, &ctemplateDict());
      benchmark::DoNotOptimize(out);
    }
  })->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();
  benchmark::RegisterBenchmark(name("mustache-cold/").c_str(), [=](benchmark::State& state) {
    std::string text = makePage(scale, mustacheMarker);
    for (auto _ : state) benchmark::DoNotOptimize(renderMustache(text));
  })->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();
  benchmark::RegisterBenchmark(name("mustache-warm/").c_str(), [=](benchmark::State& state) {
    std::string text = makePage(scale, mustacheMarker);
    kainjow::mustache::mustache t(text);
    for (auto _ : state) benchmark::DoNotOptimize(t.render(mustacheData()));
  })->Unit(benchmark::kMillisecond)->MinTime(0.3)->UseRealTime();
}

// Before anything is timed: the plug-in and both peers must produce the very
// same page, and the other workloads must expand as expected.
void checkOutputs() {
  std::string page = makePage(1, moravelMarker);
  std::string ct = renderCtemplate(makePage(1, ctemplateMarker));
  std::string mu = renderMustache(makePage(1, mustacheMarker));
  if (ct != mu) throw std::runtime_error("the two peers disagree on W2");
  std::string letter = renderCtemplate(makeLetter(ctemplateMarker));
  if (letter != renderMustache(makeLetter(mustacheMarker))) throw std::runtime_error("the two peers disagree on W7");
  for (Width w : {Width::Byte, Width::Unicode}) {
    Rig& g = rig(w);
    g.host->setText(U"tpl", moravel::fromLatin1(page));
    if (expand(g, 0) != 0 || moravel::toLatin1(g.host->text(U"out")) != ct)
      throw std::runtime_error(std::string("W2 output differs from the peers' in width ") + widthName(w));
    g.host->setText(U"tpl", moravel::fromLatin1(makeLetter(moravelMarker)));
    if (expand(g, 0) != 0 || moravel::toLatin1(g.host->text(U"out")) != letter)
      throw std::runtime_error(std::string("W7 output differs from the peers' in width ") + widthName(w));
    g.host->setText(U"tpl", moravel::fromLatin1(makeTagged(1)));
    if (expand(g, 0) != 0 || g.host->text(U"out").find(U"<FIELD>") != std::u32string::npos)
      throw std::runtime_error("W4 left tags unexpanded");
    g.host->setText(U"tpl", moravel::fromLatin1(makeIncludes(1)));
    if (expand(g, 0) != 0 || g.host->text(U"out").size() < 2 * kFileBytes)
      throw std::runtime_error("W6 did not include its files");
    g.host->setText(U"tpl", moravel::fromLatin1(makeLatin1(1)));
    if (expand(g, 2) != 0 || g.host->text(U"out").find(U"&#") == std::u32string::npos)
      throw std::runtime_error("W3 was not encoded");
    g.host->setText(U"tpl", U"");
    g.host->setText(U"out", U"");
  }
}

// ---- history ----------------------------------------------------------------

// A host runs every kind of call in one long-lived process, so a call must
// cost the same whatever ran before it. Each workload's 16x step is timed in
// a plug-in loaded for it alone, and again in one plug-in that has run every
// selected 16x step once, all of them in turn.
struct HistoryStep {
  std::string workload;
  Width width;
  std::function<std::string(int)> make;
  int utfType;  // -1: GetTagList
};

struct HistoryResult {
  double aloneMs = 0, afterMs = 0, aloneFaults = 0, afterFaults = 0;
};
std::map<std::string, HistoryResult> gHistory;  // by the step's key

constexpr int kHistoryCalls = 5;  // timed calls a step, after one untimed

void prepareStep(Rig& g, const HistoryStep& h) {
  g.host->setText(U"tpl", moravel::Text::fromBytes(h.make(16)));
  g.host->setText(U"out", U"");
}

// One call of the step; false when the plug-in reported a failure.
bool callStep(Rig& g, const HistoryStep& h) {
  if (h.utfType < 0) {
    g.host->setList(U"tags", moravel::List{{U"tag"}, {}});
    return tagList(g) == 0;
  }
  return expand(g, h.utfType) == 0;
}

// The median time of kHistoryCalls calls after one untimed, in ms, and the
// minor page faults a call.
std::pair<double, double> timeStep(Rig& g, const HistoryStep& h) {
  prepareStep(g, h);
  if (!callStep(g, h)) throw std::runtime_error("history: " + key(h.workload, h.width, 16) + " failed");
  std::vector<double> ms;
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  for (int i = 0; i < kHistoryCalls; i++) {
    auto start = std::chrono::steady_clock::now();
    bool ok = callStep(g, h);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    if (!ok) throw std::runtime_error("history: " + key(h.workload, h.width, 16) + " failed");
  }
  getrusage(RUSAGE_SELF, &after);
  std::sort(ms.begin(), ms.end());
  g.host->setText(U"out", U"");
  g.host->setText(U"tpl", U"");
  return {ms[ms.size() / 2], static_cast<double>(after.ru_minflt - before.ru_minflt) / kHistoryCalls};
}

// The steps the benchmark filter selects (by their 16x names).
std::vector<HistoryStep> historySteps() {
  std::vector<HistoryStep> all;
  for (Width w : {Width::Byte, Width::Unicode}) {
    all.push_back({"W1", w, makePlain, 0});
    all.push_back({"W2", w, [](int sc) { return makePage(sc, moravelMarker); }, 0});
    all.push_back({"W3a", w, makeLatin1, 1});
    all.push_back({"W3b", w, makeLatin1, 2});
    all.push_back({"W3c", w, makeLatin1, 3});
    all.push_back({"W4", w, makeTagged, 0});
    all.push_back({"W5", w, [](int sc) { return makePage(sc, moravelMarker); }, -1});
    all.push_back({"W6", w, makeIncludes, 0});
  }
  std::string filter = benchmark::GetBenchmarkFilter();
  bool negate = !filter.empty() && filter[0] == '-';
  if (negate) filter.erase(0, 1);
  if (filter.empty() || filter == "all" || filter == ".") return negate ? std::vector<HistoryStep>{} : all;
  std::regex re(filter);
  std::vector<HistoryStep> chosen;
  for (const HistoryStep& h : all)
    if (std::regex_search(key(h.workload, h.width, 16), re) != negate) chosen.push_back(h);
  return chosen;
}

void runHistory() {
  cleanupRigs();  // nothing else holds the libraries: a rig made now starts afresh
  std::vector<HistoryStep> steps = historySteps();
  for (const HistoryStep& h : steps) {
    std::unique_ptr<Rig> g = makeRig(h.width, "_alone_");
    auto [ms, faults] = timeStep(*g, h);
    gHistory[key(h.workload, h.width, 16)].aloneMs = ms;
    gHistory[key(h.workload, h.width, 16)].aloneFaults = faults;
    dropRig(g);
  }
  std::map<Width, std::unique_ptr<Rig>> shared;
  for (Width w : {Width::Byte, Width::Unicode}) shared[w] = makeRig(w, "_after_");
  for (const HistoryStep& h : steps) {
    prepareStep(*shared[h.width], h);
    callStep(*shared[h.width], h);
  }
  for (const HistoryStep& h : steps) {
    auto [ms, faults] = timeStep(*shared[h.width], h);
    gHistory[key(h.workload, h.width, 16)].afterMs = ms;
    gHistory[key(h.workload, h.width, 16)].afterFaults = faults;
  }
  for (auto& entry : shared) dropRig(entry.second);
}

// ---- the table ------------------------------------------------------------

double secondsOf(const std::string& k) {
  auto it = gResults.find(k);
  return it == gResults.end() ? 0 : it->second.seconds;
}

std::string fmt(const char* f, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, f, v);
  return buf;
}

std::string cell(double v, const char* f) { return v > 0 ? fmt(f, v) : "-"; }

// A row of times at the three scales, with the growth from 1x; `name` gives
// the benchmark of each scale.
void printScales(const char* label, const std::function<std::string(int)>& name, const char* f) {
  double t1 = secondsOf(name(1)), t4 = secondsOf(name(4)), t16 = secondsOf(name(16));
  std::printf("%-26s %9s %9s %9s %6s %6s\n", label, cell(t1 * 1e3, f).c_str(), cell(t4 * 1e3, f).c_str(),
              cell(t16 * 1e3, f).c_str(), cell(t1 > 0 ? t4 / t1 : 0, "%.2f").c_str(),
              cell(t1 > 0 ? t16 / t1 : 0, "%.2f").c_str());
}

void printTable() {
  struct Row {
    std::string workload, label;
  };
  const std::vector<Row> rows = {
      {"W1", "W1 plain text"},          {"W2", "W2 page, field/100 ch"},
      {"W3a", "W3 30% >=160, utfType 1"}, {"W3b", "W3 30% >=160, utfType 2"},
      {"W3c", "W3 30% >=160, utfType 3"}, {"W4", "W4 TAGGEDFIELD= splices"},
      {"W5", "W5 GetTagList of W2"},    {"W6", "W6 FILE= of 1 MiB"},
  };
  std::printf("\n%-26s %-2s %9s %9s %9s %9s %6s %6s %9s  %s\n", "workload", "w", "1x ms", "4x ms", "16x ms",
              "MB/s 16x", "4x/1x", "16x/1x", "peak/txt", "at 16x, same run");
  for (const Row& r : rows) {
    for (Width w : {Width::Byte, Width::Unicode}) {
      double t1 = secondsOf(key(r.workload, w, 1)), t4 = secondsOf(key(r.workload, w, 4)),
             t16 = secondsOf(key(r.workload, w, 16));
      double bytes16 = static_cast<double>(gTextUnits[key(r.workload, w, 16)] * unitBytes(w));
      std::string note;
      if (r.workload == "W1") {
        double m = secondsOf(key("memcpy", w, 16));
        double h = secondsOf(key("host", w, 16));
        note = "memcpy " + cell(m * 1e3, "%.2f") + " ms, ratio " + cell(m > 0 ? t16 / m : 0, "%.1fx") +
               "; host alone " + cell(h * 1e3, "%.2f") + " ms (" + cell(t16 > 0 ? 100 * h / t16 : 0, "%.0f%%") +
               "), plug-in's share " + cell(m > 0 && t16 > h ? (t16 - h) / m : 0, "%.1fx") + " memcpy";
      } else if (r.workload == "W2") {
        for (const char* p : {"ctemplate-cold", "ctemplate-warm", "mustache-cold", "mustache-warm"}) {
          double s = secondsOf(std::string(p) + "/16x");
          note += std::string(p) + " " + cell(t16 > 0 ? s / t16 : 0, "%.2fx") + "  ";
        }
      }
      auto pk = gPeakRatio.find(key(r.workload, w, 16));
      std::printf("%-26s %-2s %9s %9s %9s %9s %6s %6s %9s  %s\n", r.label.c_str(), widthName(w),
                  cell(t1 * 1e3, "%.2f").c_str(), cell(t4 * 1e3, "%.2f").c_str(), cell(t16 * 1e3, "%.2f").c_str(),
                  cell(t16 > 0 ? bytes16 / t16 / 1e6 : 0, "%.0f").c_str(), cell(t1 > 0 ? t4 / t1 : 0, "%.2f").c_str(),
                  cell(t1 > 0 ? t16 / t1 : 0, "%.2f").c_str(),
                  pk == gPeakRatio.end() ? "-" : fmt("%.2f", pk->second).c_str(), note.c_str());
    }
  }
  double ctCold = secondsOf("W7-ctemplate-cold"), muCold = secondsOf("W7-mustache-cold");
  std::printf("\nW7 letter of %zu characters, 20 fields, one call: ctemplate cold %s us, mustache cold %s us\n",
              gTextUnits[key("W7", Width::Byte, 1)], cell(ctCold * 1e6, "%.1f").c_str(), cell(muCold * 1e6, "%.1f").c_str());
  for (Width w : {Width::Byte, Width::Unicode}) {
    double t = secondsOf(key("W7", w, 1));
    auto costs = gFixedCosts.find(key("W7", w, 1));
    bool known = costs != gFixedCosts.end();
    std::printf("  %-8s %9s us a call; ctemplate cold %s, mustache cold %s; minor page faults a call %s, "
                "system calls a call %s\n",
                w == Width::Byte ? "8-bit" : "Unicode", cell(t * 1e6, "%.1f").c_str(),
                cell(t > 0 ? ctCold / t : 0, "%.2fx").c_str(), cell(t > 0 ? muCold / t : 0, "%.2fx").c_str(),
                known ? fmt("%.4f", costs->second.minorFaults).c_str() : "-",
                known && costs->second.systemCalls ? fmt("%.4f", *costs->second.systemCalls).c_str() : "-");
  }
  std::printf("\n%-26s %9s %9s %9s %6s %6s\n", "peer rendering W2 (8-bit)", "1x ms", "4x ms", "16x ms", "4x/1x",
              "16x/1x");
  for (const char* p : {"ctemplate-cold", "ctemplate-warm", "mustache-cold", "mustache-warm"})
    printScales(p, [p](int s) { return std::string(p) + "/" + std::to_string(s) + "x"; }, "%.2f");
  for (Width w : {Width::Byte, Width::Unicode})
    printScales(w == Width::Byte ? "host alone, W1 text, 8" : "host alone, W1 text, U",
                [w](int s) { return key("host", w, s); }, "%.2f");
  for (Width w : {Width::Byte, Width::Unicode})
    printScales(w == Width::Byte ? "memcpy 8-bit bytes" : "memcpy Unicode bytes",
                [w](int s) { return key("memcpy", w, s); }, "%.3f");
  if (!gHistory.empty()) {
    std::printf("\n%-26s %-2s %9s %9s %6s %12s %12s\n", "history at 16x", "w", "alone ms", "after ms", "ratio",
                "faults alone", "faults after");
    for (const Row& r : rows)
      for (Width w : {Width::Byte, Width::Unicode}) {
        auto it = gHistory.find(key(r.workload, w, 16));
        if (it == gHistory.end()) continue;
        const HistoryResult& h = it->second;
        std::printf("%-26s %-2s %9.2f %9.2f %6.2f %12.0f %12.0f\n", r.label.c_str(), widthName(w), h.aloneMs,
                    h.afterMs, h.aloneMs > 0 ? h.afterMs / h.aloneMs : 0, h.aloneFaults, h.afterFaults);
      }
  }
  std::printf(
      "\nTimes are per call (wall clock). MB/s counts the template in the plug-in's units (1 or 4 bytes a "
      "character);\nfor W6 it counts the included bytes with the template.\nPeer ratios are the peer's time over the plug-in's (above 1: the plug-in is faster); cold = "
      "parse and render, warm = render of a parsed template.\nhistory: the median of 5 calls of the 16x step "
      "in a plug-in loaded for it alone, and after every selected 16x step has run once in the same plug-in; ratio "
      "after over alone;\nfaults: minor page faults a call (host and plug-in).\npeak/txt: resident memory one call adds at its peak "
      "(host and plug-in), over the template's bytes in the plug-in's units.\n");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  try {
    checkOutputs();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "moravel_bench: %s\n", e.what());
    return 1;
  }
  if (const char* heap = std::getenv("MORAVEL_BENCH_HEAP"); heap && std::strcmp(heap, "keep") == 0) {
    gKeepHeap = true;
    tuneAllocator();
  }
  for (Width w : {Width::Byte, Width::Unicode})
    registerExpand("W7", w, 1, [](int) { return makeLetter(moravelMarker); }, 0);
  registerLetterPeers();
  for (int s : kScales) {
    for (Width w : {Width::Byte, Width::Unicode}) {
      registerMemcpy(w, s);
      registerHostFloor(w, s);
      registerExpand("W1", w, s, makePlain, 0);
      registerExpand("W2", w, s, [](int sc) { return makePage(sc, moravelMarker); }, 0);
      registerExpand("W3a", w, s, makeLatin1, 1);
      registerExpand("W3b", w, s, makeLatin1, 2);
      registerExpand("W3c", w, s, makeLatin1, 3);
      registerExpand("W4", w, s, makeTagged, 0);
      registerTagList(w, s);
      registerExpand("W6", w, s, makeIncludes, 0, 2 * static_cast<std::size_t>(s) * kFileBytes);
    }
    registerPeers(s);
  }
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  try {
    runHistory();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "moravel_bench: %s\n", e.what());
    return 1;
  }
  std::printf(gKeepHeap ? "\nHeap kept: the benchmark process keeps its large blocks (mmap off, no trimming)"
                        : "\nHeap as it comes: the C library's allocator with its defaults");
  std::printf("; names and values from seed %llu\n", static_cast<unsigned long long>(seed()));
  printTable();
  cleanupRigs();
  benchmark::Shutdown();
  return 0;
}
