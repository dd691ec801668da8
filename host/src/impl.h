// impl.h: the host's state behind the façade: library, store, frames of messages in progress, log.
#pragma once

#include <cstdarg>
#include <deque>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "moravel/host.h"
#include "moravel_testexports.h"
#include "escape.h"
#include "store.h"

namespace moravel {

namespace detail {

using EntryFn = void (*)(short md, void** ref, void*, void*, void*, short (*callback)(int, ...));
using MacEntryFn = void (*)(short md, void** ref, void* paramBlock);

// A parameter of a call: its own value, or a reference to a variable, kept
// as the variable's slot, which its name keeps while the host lives.
struct Param {
  Datum own;
  std::optional<std::size_t> reference;  // the slot of the variable passed by reference
};

// A message in progress.
struct Frame {
  int message = 0;
  int packageId = 0;
  bool isCall = false;
  int paramCount = 0;
  std::vector<Param> params;
  Datum ret = Value();
  int returnWrites = 0;
};

// Column index that stands for the line count ("#LN").
constexpr int kLineCountColumn = -2;

}  // namespace detail

struct detail::HostImpl final : calc::Context {
  std::string path;
  Width width;
  Form form = Form::Windows;
  void* lib = nullptr;
  detail::EntryFn entry = nullptr;
  detail::MacEntryFn macEntry = nullptr;
  MoravelTestSetAllocFailureFn setAllocFailure = nullptr;
  MoravelTestSetFileFailureFn setFileFailure = nullptr;
  MoravelTestRecordInfoFn recordInfo = nullptr;
  MoravelTestCounterFn liveBlocks = nullptr, allocations = nullptr, beeps = nullptr, openFiles = nullptr,
                       fileFaults = nullptr;

  void* slot = nullptr;
  bool loaded = false;
  detail::Store store;
  std::map<std::u32string, std::vector<std::u32string>, std::less<>> methods;
  Value instanceName;  // what "$cinst().$name" gives
  std::map<std::u32string, std::uintptr_t, std::less<>> atoms;
  bool refuseStores = false;
  std::optional<std::int32_t> reportedLength;
  std::vector<unsigned char> design;
  std::deque<detail::Frame> frames;
  long nestedCallLimit = -1;  // Host::limitNestedCalls
  long nestedCalls = 0;       // within the outermost call in progress
  HostLog log;
  bool keepTexts = true;
  std::function<void(const Unanswered&)> unansweredListener;
  Value paramCountValue;  // field 210 as last read
  bool escapeHtml = false;  // values handed out escaped for HTML (Host::escapeValuesForHtml)
  std::u32string sinkName;   // texts written to this variable go to textSink (Host::streamWrites)
  Host::TextSink textSink;
  std::u32string sourceName;  // the Unicode plug-in's reads of this variable come from textSource
  std::size_t sourceLength = 0;
  Host::TextSource textSource;

  HostImpl(std::string p, Width w);  // impl.cpp, beside the lookups

  void problem(std::string what) { log.problems.push_back(std::move(what)); }
  // Reports a request that produced nothing: to the listener, and for a
  // calculation or method also to the log's calcFailures.
  void unanswered(Unanswered::Kind kind, detail::NameView text, std::string reason);
  // A calculation's or method's result as the plug-in is to get it.
  Value handedOut(Value v) {
    if (escapeHtml)
      if (auto e = detail::htmlEscaped(v)) return std::move(*e);
    return v;
  }
  void noteText(std::vector<std::u32string>& list, detail::NameView text) {
    if (keepTexts) list.push_back(text.str());
  }

  // ---- what a field reference stands for (impl.cpp) ----
  detail::Frame* callFrame();
  // The storage behind a field reference, or null.
  Datum* resolve(int ref);
  // The value a field holds, in place, or null (a problem noted).
  const Value* readField(int ref);
  bool writeField(int ref, Value v);
  void countReturnWrite(int ref);
  List* resolveList(int ref);
  int columnOf(const List& list, int fldref);
  bool isKnownColumn(std::u32string_view name) const;
  // The name a field reference stands for (see impl.cpp), nullopt if unknown.
  std::optional<std::u32string> fieldName(int ref);

  // ---- messages and calls (calls.cpp) ----
  detail::Frame sendFrame(int md, detail::Frame frame);
  CallResult callFunction(int packageId, std::vector<Arg> args, int paramCount);
  void runMethod(const std::u32string& name, int ref);
  std::optional<Value> variable(std::u32string_view name) override;
  bool hasVariable(std::u32string_view name) override;
  std::optional<Value> callPlugin(int packageId, std::vector<calc::PluginArg> args) override;

  // ---- requests: the bookkeeping both doors share ----
  // Counts a request and notes one that came through a handle not the
  // innermost message's.
  void noteRequest(int handle, int code) {
    log.requests.note(code);
    if (frames.empty() || handle != static_cast<int>(frames.size()) - 1) noteStaleHandle(handle, code);
  }
  void noteStaleHandle(int handle, int code);
  // Answers request `code`, which came through the door of nesting depth
  // `handle` (-1: not one of the host's), with answerIt(*this), keeping the
  // books every request shares: it is counted, a stale handle is noted, and
  // a failure of the answer is noted as a problem and answers 0.
  template <class F>
  short keepBooks(int handle, int code, F&& answerIt) {
    noteRequest(handle, code);
    try {
      return answerIt(*this);
    } catch (const std::exception& e) {
      problem(std::string("request ") + std::to_string(code) + " failed: " + e.what());
    } catch (...) {
      problem("request " + std::to_string(code) + " failed");
    }
    return 0;
  }
};

}  // namespace moravel
