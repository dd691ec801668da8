// session.h: what every subcommand shares: the plug-in found and loaded in a host, texts in the build's form.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "exit_status.h"
#include "moravel/host.h"

namespace moravel::tool {

struct Common {
  std::string build;   // "unicode", "8bit", or "" when not given (then Unicode, or what --plugin is)
  std::string plugin;  // explicit library file, overrides the search
  bool unicode() const { return build != "8bit"; }
};

// The plug-in library file of a build: beside the executable, in the
// installed library directory relative to it, in MORAVEL_PLUGIN_DIR, or
// where the build put it. Throws Failure (69) naming the places tried.
std::string locatePlugin(bool unicode);

// Settles the library file and its build before anything is read: a
// library is asked which unit width it was built for. With --plugin and no
// --build, its own build is used; a library of the other build than the
// one asked for, or one that does not answer as the plug-in does, is
// Failure (69) naming the mismatch.
void resolvePlugin(Common& c);

struct Session {
  Host host;
  bool unicode;
  explicit Session(const Common& c);
};

// The plug-in loaded and ready; Failure (69) when it cannot be.
std::unique_ptr<Session> openSession(const Common& c);

// Throws Failure with the result code when a plug-in function did not
// succeed; `what` names what the call was about ("page.html: DoSubstitutions"),
// and `detail`, when given, follows the meaning of the code.
void check(const CallResult& r, const std::string& what, const std::string& detail = "");

// SetTags with the open and close tag of --tags, when given.
void setTags(Session& s, const std::vector<std::string>& tags);

// Bytes as the chosen build's text: UTF-8 for the Unicode build (a byte that
// is not part of valid UTF-8 is taken as the character of its own value, and
// a warning names `what`), one byte a character for the 8-bit build.
std::u32string toText(const std::string& bytes, bool unicode, const std::string& what);

// The template as the chosen build's text, read straight into the host's
// storage, decoded as toText says. A NUL character is refused (64).
// With `undecoded` (a single call, Unicode build): a template that holds a
// character above U+00FF stays its UTF-8 bytes, to be decoded straight into
// the plug-in's buffer (Host::streamReads), and *undecoded is its length in
// characters; 0 for a template decoded here.
Text readTemplate(const std::string& name, bool unicode, std::size_t* undecoded = nullptr);

// What a file name stands for in messages ("-": standard input).
inline std::string displayName(const std::string& name) { return name == "-" ? "standard input" : name; }

}  // namespace moravel::tool
