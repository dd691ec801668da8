// host.cpp: the façade: loading the library, messages, variables, methods, calls, atoms, bookkeeping, test hooks.
#include "moravel/host.h"

#include <algorithm>
#include <cstring>

#include "doors.h"
#include "impl.h"
#include "library.h"
#include "moravel/text.h"

namespace moravel {

using namespace detail;

namespace {

void checkByteText(Width w, std::u32string_view t, const char* what) {
  if (w != Width::Byte) return;
  for (char32_t c : t)
    if (c > 0xFF) throw std::invalid_argument(std::string(what) + ": character above 0xFF for a one-byte plug-in");
}

// A text that is narrow holds nothing above 0xFF.
void checkByteValue(Width w, const Value& v, const char* what) {
  if (const Text* t = v.storedText(); t && t->wide()) checkByteText(w, t->str(), what);
}

void checkByteList(Width w, const List& list) {
  for (const auto& c : list.columns) checkByteText(w, c, "column name");
  for (const auto& row : list.rows)
    for (const auto& cell : row) checkByteValue(w, cell, "list cell");
}

template <class F>
F symbol(void* lib, const char* name) {
  return reinterpret_cast<F>(librarySymbol(lib, name));
}

}  // namespace

Host::Host(const std::string& libraryPath, Width width) : Host(libraryPath, width, Form::Windows) {}

Host::Host(const std::string& libraryPath, Width width, Form form)
    : impl_(std::make_unique<Impl>(libraryPath, width)) {
  if (form == Form::Mac && width != Width::Unicode) throw HostError("a Mac-form plug-in is a Unicode build");
  impl_->form = form;
  std::string err;
  impl_->lib = openLibrary(libraryPath, err);
  if (!impl_->lib) throw HostError("cannot load " + libraryPath + ": " + err);
  const char* entryName = form == Form::Mac ? "main" : "Moravel";
  void* entry = librarySymbol(impl_->lib, entryName);
  if (!entry) {
    closeLibrary(impl_->lib);
    throw HostError(libraryPath + " has no entry point " + entryName);
  }
  impl_->entry = reinterpret_cast<EntryFn>(entry);
  impl_->macEntry = reinterpret_cast<MacEntryFn>(entry);
  impl_->setAllocFailure = symbol<MoravelTestSetAllocFailureFn>(impl_->lib, MORAVEL_TEST_SET_ALLOC_FAILURE);
  impl_->setFileFailure = symbol<MoravelTestSetFileFailureFn>(impl_->lib, MORAVEL_TEST_SET_FILE_FAILURE);
  impl_->recordInfo = symbol<MoravelTestRecordInfoFn>(impl_->lib, MORAVEL_TEST_RECORD_INFO);
  impl_->liveBlocks = symbol<MoravelTestCounterFn>(impl_->lib, MORAVEL_TEST_LIVE_BLOCKS);
  impl_->allocations = symbol<MoravelTestCounterFn>(impl_->lib, MORAVEL_TEST_ALLOCATIONS);
  impl_->beeps = symbol<MoravelTestCounterFn>(impl_->lib, MORAVEL_TEST_BEEPS);
  impl_->openFiles = symbol<MoravelTestCounterFn>(impl_->lib, MORAVEL_TEST_OPEN_FILES);
  impl_->fileFaults = symbol<MoravelTestCounterFn>(impl_->lib, MORAVEL_TEST_FILE_FAULTS);
}

Host::~Host() {
  if (impl_->loaded && impl_->frames.empty()) {
    try {
      unload();
    } catch (...) {
    }
  }
  if (impl_->lib) closeLibrary(impl_->lib);
}

void Host::useLoader(LibraryLoader* loader) { setLibraryLoader(loader); }

std::optional<Width> Host::widthOf(const std::string& libraryPath) {
  // A Unicode host's record is the larger, so either build has room in it.
  Host h(libraryPath, Width::Unicode);
  constexpr int kAskReturnValue = 6;
  h.describe(kVersion, kAskReturnValue);
  const auto& d = h.impl_->design;
  if (d[design::kLabel] == 0) return std::nullopt;
  if (d[design::kLabel + 1] != 0) return Width::Byte;  // a count byte, then the first character
  if (d[design::kLabel + 4] != 0) return Width::Unicode;  // a 32-bit count, then 32-bit characters
  return std::nullopt;
}

Width Host::width() const { return impl_->width; }
Form Host::form() const { return impl_->form; }
const std::string& Host::libraryPath() const { return impl_->path; }

void Host::send(int message) {
  Frame f;
  f.message = message;
  impl_->sendFrame(message, std::move(f));
}

void Host::load() {
  send(kLoad);
  impl_->loaded = true;
}

void Host::unload() {
  send(kUnload);
  impl_->loaded = false;
}

void* Host::slot() const { return impl_->slot; }
void Host::setSlot(void* value) { impl_->slot = value; }
bool Host::loaded() const { return impl_->loaded; }

DesignAnswer Host::describe(int packageId, int qfldid) {
  auto& d = impl_->design;
  std::fill(d.begin(), d.end(), 0);
  auto q = static_cast<std::int16_t>(qfldid);
  std::memcpy(&d[design::kQfldid], &q, 2);
  d[design::kUseDefault] = 1;
  std::vector<unsigned char> before = d;
  Frame f;
  f.message = kDesignInfo;
  f.packageId = packageId;
  impl_->sendFrame(kDesignInfo, std::move(f));
  DesignAnswer a;
  a.changed = d != before;
  a.useDefault = d[design::kUseDefault];
  if (width() == Width::Byte) {
    std::size_t n = std::min<std::size_t>(d[design::kLabel], 255);
    for (std::size_t i = 0; i < n; ++i) a.label.push_back(d[design::kLabel + 1 + i]);
  } else {
    std::uint32_t n;
    std::memcpy(&n, &d[design::kLabel], 4);
    n = std::min<std::uint32_t>(n, 255);
    for (std::size_t i = 0; i < n; ++i) {
      std::uint32_t c;
      std::memcpy(&c, &d[design::kLabel + 4 + 4 * i], 4);
      a.label.push_back(c);
    }
  }
  return a;
}

int Host::setupInfo() {
  auto& d = impl_->design;
  std::fill(d.begin(), d.end(), 0);
  send(kSetupInfo);
  std::int16_t v;
  std::memcpy(&v, &d[design::kSetupFlag], 2);
  return v;
}

std::vector<unsigned char> Host::designRecord() const { return impl_->design; }

void Host::set(std::u32string_view name, Value value) {
  checkByteText(width(), name, "variable name");
  checkByteValue(width(), value, "variable value");
  impl_->store.define(name, std::move(value));
}

void Host::setList(std::u32string_view name, List list) {
  checkByteText(width(), name, "variable name");
  checkByteList(width(), list);
  impl_->store.define(name, std::move(list));
}

bool Host::exchange(std::u32string_view name, Value& value, bool& existed) {
  return exchange(varSlot(name), value, existed);
}

bool Host::has(std::u32string_view name) const { return impl_->store.find(name) != nullptr; }

void Host::remove(std::u32string_view name) { impl_->store.remove(name); }

Host::VarSlot Host::varSlot(std::u32string_view name) {
  checkByteText(width(), name, "variable name");
  return VarSlot{impl_->store.slotOf(name)};
}

namespace {
Var& varAt(Store& store, Host::VarSlot slot) {
  if (Var* v = store.atSlot(slot.index)) return *v;
  throw HostError("no variable slot " + std::to_string(slot.index) + " in this host");
}
}  // namespace

bool Host::exchange(VarSlot slot, Value& value, bool& existed) {
  checkByteValue(width(), value, "variable value");
  Var& v = varAt(impl_->store, slot);
  existed = v.alive;
  if (!existed) Store::revive(v);
  Value* held = std::get_if<Value>(&v.data);
  if (!held) return false;
  exchangeValues(*held, value);
  return true;
}

void Host::remove(VarSlot slot) {
  Var& v = varAt(impl_->store, slot);
  if (v.alive) impl_->store.remove(v);
}

std::optional<Value> Host::value(std::u32string_view name) const { return impl_->variable(name); }

std::optional<List> Host::list(std::u32string_view name) const {
  Var* v = impl_->store.find(name);
  if (!v) return std::nullopt;
  if (auto* l = std::get_if<List>(&v->data)) return *l;
  return std::nullopt;
}

std::u32string Host::text(std::u32string_view name) const {
  Var* v = impl_->store.find(name);
  const Value* val = v ? std::get_if<Value>(&v->data) : nullptr;
  return val ? val->asText() : std::u32string();
}

const Text* Host::storedText(std::u32string_view name) const {
  Var* v = impl_->store.find(name);
  const Value* val = v ? std::get_if<Value>(&v->data) : nullptr;
  return val ? val->storedText() : nullptr;
}

int Host::refOf(std::u32string_view name) const {
  Var* v = impl_->store.find(name);
  return v ? impl_->store.refFor(*v) : 0;
}

void Host::defineMethod(std::u32string name, std::vector<std::u32string> body) {
  checkByteText(width(), name, "method name");
  for (const auto& line : body) checkByteText(width(), line, "method body");
  impl_->methods[std::move(name)] = std::move(body);
}

void Host::removeMethod(std::u32string_view name) {
  auto it = impl_->methods.find(name);
  if (it != impl_->methods.end()) impl_->methods.erase(it);
}

void Host::setInstanceName(std::u32string name) {
  checkByteText(width(), name, "instance name");
  impl_->instanceName = Value::text(name);
}

CallResult Host::call(int packageId, std::vector<Arg> args, int paramCount) {
  for (const auto& a : args) {
    if (a.isReference()) continue;
    if (auto* v = std::get_if<Value>(&a.datum())) checkByteValue(width(), *v, "argument");
    else checkByteList(width(), std::get<List>(a.datum()));
  }
  return impl_->callFunction(packageId, std::move(args), paramCount);
}

CallResult Host::call(std::u32string_view function, std::vector<Arg> args, int paramCount) {
  int id = calc::packageIdOf(function);
  if (!id) throw HostError("no plug-in function " + encodeUtf8(function));
  return call(id, std::move(args), paramCount);
}

calc::Outcome Host::evaluate(std::u32string_view calculation) { return calc::run(calculation, *impl_); }

void Host::refuseAtomStores(bool refuse) { impl_->refuseStores = refuse; }
void Host::misreportLengths(std::optional<std::int32_t> length) { impl_->reportedLength = length; }

std::optional<std::uintptr_t> Host::atom(std::u32string_view name) const {
  auto it = impl_->atoms.find(name);
  if (it == impl_->atoms.end()) return std::nullopt;
  return it->second;
}

std::size_t Host::atomCount() const { return impl_->atoms.size(); }

const HostLog& Host::log() const { return impl_->log; }
void Host::keepRequestTexts(bool keep) { impl_->keepTexts = keep; }
void Host::escapeValuesForHtml(bool on) { impl_->escapeHtml = on; }

void Host::streamWrites(std::u32string_view name, TextSink sink) {
  impl_->sinkName = name;
  impl_->textSink = std::move(sink);
}

void Host::streamReads(std::u32string_view name, std::size_t length, TextSource source) {
  impl_->sourceName = name;
  impl_->sourceLength = length;
  impl_->textSource = std::move(source);
}

void Host::limitNestedCalls(long calls) { impl_->nestedCallLimit = calls; }

void Host::onUnanswered(std::function<void(const Unanswered&)> listener) {
  impl_->unansweredListener = std::move(listener);
}

void Host::clearLog() {
  auto outstanding = std::move(impl_->log.outstandingRefs);
  impl_->log = HostLog();
  impl_->log.outstandingRefs = std::move(outstanding);
}

int Host::depth() const { return static_cast<int>(impl_->frames.size()); }

long Host::orphanRequests() { return orphans(); }

bool Host::hasTestHooks() const {
  const Impl& i = *impl_;
  return i.setAllocFailure && i.setFileFailure && i.recordInfo && i.liveBlocks && i.allocations && i.beeps &&
         i.openFiles && i.fileFaults;
}

namespace {
void requireHook(bool present) {
  if (!present) throw HostError("the plug-in is not a test build");
}

long readCounter(MoravelTestCounterFn counter) {
  requireHook(counter != nullptr);
  return counter();
}
}  // namespace

void Host::setAllocFailure(long nth, bool persistent) {
  requireHook(impl_->setAllocFailure != nullptr);
  impl_->setAllocFailure(nth, persistent ? 1 : 0);
}

long Host::liveBlocks() const { return readCounter(impl_->liveBlocks); }
long Host::allocations() const { return readCounter(impl_->allocations); }
long Host::beeps() const { return readCounter(impl_->beeps); }
long Host::openFiles() const { return readCounter(impl_->openFiles); }
long Host::fileFaults() const { return readCounter(impl_->fileFaults); }

bool Host::recordInfo(MoravelRecordInfo& info) const {
  requireHook(impl_->recordInfo != nullptr);
  info.structSize = sizeof info;
  return impl_->slot && impl_->recordInfo(impl_->slot, &info) == static_cast<long>(sizeof info);
}

void Host::setFileFailure(int step) {
  requireHook(impl_->setFileFailure != nullptr);
  impl_->setFileFailure(step);
}

}  // namespace moravel
