// host.h: a host for the Moravel plug-in, for tests and the command-line tool.
//
// A Host loads one plug-in library (either unit width), keeps its slot, sends
// it messages, and answers its requests from variables, lists, methods and
// atoms of its own. Function calls are made with parameters that are values
// or references to variables; calculations and methods the plug-in asks for
// may call the plug-in again (nested calls), each nesting depth reaching the
// host through a request function of its own so that requests made through a
// stale handle can be told apart and counted.
//
// Texts are held as Text, one byte a character while every character is at
// most U+00FF, so a field read is a copy into the plug-in's buffer. Names the
// plug-in sends are looked up by hash straight from its units. A one-byte
// plug-in exchanges bytes 0..255; giving such a host a text with a code point
// above 0xFF (a variable, list cell or column name, method, instance name or
// call argument) throws std::invalid_argument.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "moravel/calc.h"
#include "moravel/interface.h"
#include "moravel/value.h"

struct MoravelRecordInfo;

namespace moravel {

enum class Width { Byte, Unicode };

// How the plug-in reaches the host: Windows, an entry "Moravel" given one
// request function; Mac, an entry "main" given a parameter block of entry
// points, numbers crossing as 80-bit extended values (Unicode builds only).
enum class Form { Windows, Mac };

class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How a host loads a plug-in library. By default the system's own loader
// does (dlopen, LoadLibrary); a test can put another in its place, to run a
// library the system cannot load itself (the Mac bundle on Linux).
class LibraryLoader {
 public:
  virtual ~LibraryLoader() = default;
  // The loaded library, or null with the reason in `error`.
  virtual void* open(const std::string& path, std::string& error) = 0;
  // The address of the function the library exports under this C name, or null.
  virtual void* symbol(void* library, const char* name) = 0;
  virtual void close(void* library) = 0;
};

// A parameter of a function call: a value, a list, or a reference to a host
// variable (what the plug-in writes to it reaches the variable).
class Arg {
 public:
  Arg(Value v) : datum_(std::move(v)) {}  // NOLINT: implicit on purpose
  Arg(List l) : datum_(std::move(l)) {}   // NOLINT
  static Arg text(std::u32string_view t) { return Arg(Value::text(t)); }
  static Arg text(Text t) { return Arg(Value::text(std::move(t))); }
  static Arg number(double n) { return Arg(Value::number(n)); }
  static Arg reference(std::u32string variable) {
    Arg a{Value()};
    a.reference_ = std::move(variable);
    return a;
  }

  bool isReference() const { return reference_.has_value(); }
  const std::u32string& variable() const { return *reference_; }
  const Datum& datum() const { return datum_; }
  // Moves the value out (the host does so when it makes the call).
  Datum release() { return std::move(datum_); }

 private:
  Datum datum_;
  std::optional<std::u32string> reference_;
};

struct CallResult {
  Value returnValue;             // field 200 after the call (empty text if never written)
  int returnWrites = 0;          // how often the plug-in wrote field 200
  // Fields 211.. after the call. A parameter passed by value is what the
  // plug-in left in it; one passed by reference is the empty text here, its
  // result being in the variable itself (Host::value, list, text), which is
  // not copied.
  std::vector<Datum> parameters;
  // The result code: field 200 as a number.
  int code() const { return static_cast<int>(returnValue.asNumber()); }
};

struct DesignAnswer {
  bool changed = false;  // whether the plug-in changed the record at all
  int useDefault = 0;    // the usedefault byte afterwards (1 before the message)
  std::u32string label;  // the counted label text afterwards
};

// Requests counted by code.
class RequestCounts {
 public:
  void note(int code) {
    ++total_;
    if (code >= 0 && code < kTable) ++table_[static_cast<std::size_t>(code)];
    else ++others_[code];
  }
  long count(int code) const {
    if (code >= 0 && code < kTable) return table_[static_cast<std::size_t>(code)];
    auto it = others_.find(code);
    return it == others_.end() ? 0 : it->second;
  }
  long total() const { return total_; }
  bool empty() const { return total_ == 0; }

 private:
  static constexpr int kTable = 64;
  std::array<long, kTable> table_{};
  std::map<int, long> others_;
  long total_ = 0;
};

// What the host saw. Request codes are those of the plug-in's interface.
// The texts of requests (names, calculations, messages) are kept unless
// Host::keepRequestTexts(false) turned that off.
struct HostLog {
  RequestCounts requests;                      // count by request code
  long staleHandles = 0;                       // requests through a handle not the innermost call's
  std::vector<std::u32string> fieldRefNames;   // GetFldRef names asked for
  std::vector<std::u32string> calcTexts;       // EvalCalcString texts as received
  std::vector<std::string> calcFailures;       // why a calculation or method produced nothing
  std::vector<std::u32string> procedureNames;  // CallProcedure names as received
  std::vector<std::u32string> namedValueNames;  // GetNamedVal names as received
  std::vector<std::u32string> shownMessages;   // ShowMessage texts
  std::vector<int> purgedRefs;                 // PurgeFldRef arguments, in order
  std::map<int, long> outstandingRefs;         // references handed out and not yet purged
  std::vector<std::string> problems;           // requests the host could not honour
  int maxDepth = 0;                            // deepest nesting of messages seen

  long count(int requestCode) const { return requests.count(requestCode); }
  long outstanding() const {
    long n = 0;
    for (const auto& [ref, c] : outstandingRefs) n += c;
    return n;
  }
};

// A request the host could not answer as asked: a name it holds no value
// for (none, or a list), a calculation that failed, or a method it does not
// have or whose calculation failed. The plug-in gets the empty text or
// nothing, as it expects; a caller that wants to know listens for these.
struct Unanswered {
  enum class Kind { Name, Calculation, Method };
  Kind kind;
  std::u32string text;  // the name, calculation or method as it reached the host
  std::string reason;   // what went wrong
};

namespace detail {
struct HostImpl;  // the host's state and its answers to requests (host/src/impl.h)
}

class Host {
 public:
  // The most deeply nested messages the host can send (one request function each).
  static constexpr int kMaxDepth = 16;

  // Loads the library (dlopen) and finds its entry. Throws HostError.
  Host(const std::string& libraryPath, Width width);
  Host(const std::string& libraryPath, Width width, Form form);
  // The unit width the library at `libraryPath` was built for, asked before
  // any load: message 3 for the return value's label, which the plug-in
  // writes in its own unit. nullopt when it does not answer as a plug-in
  // does. Throws HostError when the library cannot be loaded.
  static std::optional<Width> widthOf(const std::string& libraryPath);
  // The loader of every Host made from now on; null: the system's.
  static void useLoader(LibraryLoader* loader);
  // Sends the unload message if the plug-in is loaded, then closes the library.
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  Width width() const;
  Form form() const;
  std::size_t unitSize() const { return width() == Width::Byte ? 1 : 4; }
  const std::string& libraryPath() const;

  // --- Messages -----------------------------------------------------------
  void load();                 // message 0
  void unload();               // message 2
  void send(int message);      // any message number, without a call frame
  void* slot() const;          // what the plug-in keeps in the host's slot
  void setSlot(void* value);
  bool loaded() const;         // load() sent and unload() not since

  // Message 3 for `packageId`, asking for `qfldid` (design::Ask, or any
  // other number). The record is cleared, usedefault set to 1, qfldid set.
  DesignAnswer describe(int packageId, int qfldid);
  // Message 4 on a cleared record; the 16-bit field at byte 14 afterwards.
  int setupInfo();
  // The design/setup record as it now stands (266 or 1034 bytes).
  std::vector<unsigned char> designRecord() const;

  // --- Variables ----------------------------------------------------------
  // "#S1" (empty text) and "#LN" (0) always exist.
  void set(std::u32string_view name, Value value);
  void setText(std::u32string_view name, std::u32string_view text) { set(name, Value::text(text)); }
  void setText(std::u32string_view name, Text text) { set(name, Value::text(std::move(text))); }
  void setNumber(std::u32string_view name, double n) { set(name, Value::number(n)); }
  void setList(std::u32string_view name, List list);
  // Exchanges `value` with what the variable holds, without a copy: a mail
  // merge lays each record's values over the common data so, and takes them
  // back. A name without a variable gets one, the empty text, first;
  // `existed` says whether it had one. A name that holds a list is left as
  // it is, and false returned.
  bool exchange(std::u32string_view name, Value& value, bool& existed);
  bool has(std::u32string_view name) const;
  void remove(std::u32string_view name);
  // A variable's slot: its name looked up once, then reached without a
  // lookup. A name keeps its slot while the host lives, through removal and
  // definition again, so a mail merge finds the slots of a record's fields
  // once for all the records that name the same fields. Taking a slot
  // defines no variable.
  struct VarSlot {
    std::size_t index = 0;
  };
  VarSlot varSlot(std::u32string_view name);
  // exchange and remove as above, through a slot of this host (HostError for another).
  bool exchange(VarSlot slot, Value& value, bool& existed);
  void remove(VarSlot slot);
  std::optional<Value> value(std::u32string_view name) const;  // nullopt: none, or a list
  std::optional<List> list(std::u32string_view name) const;    // nullopt: none, or not a list
  std::u32string text(std::u32string_view name) const;          // value as text; "" if none
  // The text a variable holds, in place: null when there is no such
  // variable or it holds a number or a list. Valid until the variable changes.
  const Text* storedText(std::u32string_view name) const;
  int refOf(std::u32string_view name) const;  // the reference the plug-in would get; 0 if none

  // Whether every text handed to the plug-in as a value (a variable read by
  // name, a calculation's or method's result) is escaped for HTML: & < > " '
  // as &amp; &lt; &gt; &quot; &#39;. Off at first. Call parameters, lists
  // and the instance name are handed out as they are.
  void escapeValuesForHtml(bool on);
  // Texts the plug-in writes to variable `name` go to `sink` as they arrive
  // instead of into the variable: in pieces of the plug-in's own units (one
  // byte, or 32 bits, a character), without the terminator, so that a large
  // result is never held twice. An empty sink stores them again.
  using TextSink = std::function<void(const void* units, std::size_t count)>;
  void streamWrites(std::u32string_view name, TextSink sink);
  // The Unicode plug-in's reads of variable `name` as a text are answered
  // by `source` instead of from the variable: a text of `length` characters,
  // of which the source writes the first `count` to `out` when the plug-in
  // asks for them, so that a large text the host keeps in another form (a
  // page's UTF-8) is converted once, straight into the plug-in's buffer. An
  // empty source answers from the variable again.
  using TextSource = std::function<void(char32_t* out, std::size_t count)>;
  void streamReads(std::u32string_view name, std::size_t length, TextSource source);

  // --- Methods and instance -----------------------------------------------
  // A method is a list of calculations run in order; the value of the last is
  // its return value. Names are matched exactly.
  void defineMethod(std::u32string name, std::vector<std::u32string> body);
  void defineMethod(std::u32string name, std::u32string calculation) {
    defineMethod(std::move(name), std::vector<std::u32string>{std::move(calculation)});
  }
  void removeMethod(std::u32string_view name);
  // What "$cinst().$name" gives.
  void setInstanceName(std::u32string name);

  // --- Function calls -----------------------------------------------------
  // Calls function `packageId` with `args` as fields 211.. and `paramCount`
  // in field 210 (-1: the number of args). A count above the number of args
  // adds empty texts. Throws HostError when nested too deeply.
  CallResult call(int packageId, std::vector<Arg> args, int paramCount = -1);
  // By name ("DoSubstitutions", any case); throws HostError for an unknown name.
  CallResult call(std::u32string_view function, std::vector<Arg> args, int paramCount = -1);

  // Evaluates a calculation against this host's variables, as EvalCalcString
  // would (a Moravel.Name(...) in it calls the plug-in).
  calc::Outcome evaluate(std::u32string_view calculation);

  // --- Atoms --------------------------------------------------------------
  void refuseAtomStores(bool refuse);

  // --- A host that misreports ---------------------------------------------
  // Every length the plug-in asks for (format 4) is answered with `length`
  // instead of the true one, as a faulty host might; nullopt: true lengths.
  void misreportLengths(std::optional<std::int32_t> length);
  std::optional<std::uintptr_t> atom(std::u32string_view name) const;
  std::size_t atomCount() const;

  // --- Bookkeeping --------------------------------------------------------
  const HostLog& log() const;
  // Whether the log keeps the texts of requests (on at first); counts,
  // references and problems are always kept.
  void keepRequestTexts(bool keep);
  void clearLog();  // outstanding references are kept
  // Called for every unanswered request as it happens (nested calls
  // included); an empty function stops it.
  void onUnanswered(std::function<void(const Unanswered&)> listener);
  int depth() const;  // messages in progress
  // At most `calls` plug-in calls made from calculations and methods within
  // one outermost call (-1: no limit, as at first); one more fails as a
  // call nested too deep does. A template whose methods call the plug-in on
  // the same template again, several times over, would otherwise run for a
  // time exponential in the depth.
  void limitNestedCalls(long calls);
  // Requests that arrived while no host was sending a message.
  static long orphanRequests();

  // --- Test builds of the plug-in -----------------------------------------
  bool hasTestHooks() const;
  // Fail the nth allocation from now (1 = the next); persistent: every one
  // from the nth on; nth 0 = off. These throw HostError without the hooks.
  void setAllocFailure(long nth, bool persistent = false);
  long liveBlocks() const;
  long allocations() const;
  long beeps() const;
  // The state record as the build's inspector reports it; false when no
  // record is loaded.
  bool recordInfo(MoravelRecordInfo& info) const;
  // Fail one step of reading a file (MoravelFileStep; 0 = none).
  void setFileFailure(int step);
  long openFiles() const;
  long fileFaults() const;  // how many steps have failed on demand

 private:
  using Impl = detail::HostImpl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace moravel
