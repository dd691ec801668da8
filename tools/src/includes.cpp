// includes.cpp: naming the included file behind a result 4 or 5, from the tags the plug-in lists.
#include "includes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <set>
#include <vector>

#include "moravel/text.h"
#include "places.h"

namespace moravel::tool {

namespace {

constexpr std::size_t kMaxRead = std::size_t{64} << 20;  // enough to find a zero character in
constexpr int kMaxNesting = 16;

bool blank(char32_t c) { return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r'; }

// The file name of a FILE= or TAGGEDFILE= tag (any case, blanks around it
// trimmed); nullopt for any other tag.
std::optional<std::u32string> includedName(std::u32string tag, bool& tagged) {
  while (!tag.empty() && blank(tag.back())) tag.pop_back();
  std::size_t start = 0;
  while (start < tag.size() && blank(tag[start])) ++start;
  tag.erase(0, start);
  for (std::u32string verb : {U"TAGGEDFILE=", U"FILE="}) {
    if (tag.size() < verb.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < verb.size() && same; ++i) {
      char32_t c = tag[i];
      same = (c >= U'a' && c <= U'z' ? c - 32 : c) == verb[i];
    }
    if (!same) continue;
    tagged = verb.size() > 5;
    return tag.substr(verb.size());
  }
  return std::nullopt;
}

// Where the plug-in looks for a name: joined with the files directory,
// unless the name is itself a path ('/' after its first character, not at
// its start). A name written with '\' or ':' between its parts has them
// read as '/'.
std::u32string lookedFor(std::u32string name, const std::u32string& base) {
  if (base.empty() || name.empty()) return name;
  auto hasAfterFirst = [&](char32_t d) { return name.find(d, 1) != std::u32string::npos; };
  char32_t kind = 0;
  for (char32_t d : {U'/', U'\\', U':'})
    if (!kind && (name[0] == d || hasAfterFirst(d))) kind = d;
  if (kind && kind != U'/')
    for (auto& c : name)
      if (c == kind) c = U'/';
  bool hasDelim = kind && hasAfterFirst(U'/');
  bool beginsWithDelim = hasDelim && name[0] == U'/';
  if (hasDelim && !beginsWithDelim) return name;
  return base + name.substr(beginsWithDelim ? 1 : 0);
}

// Why the file cannot be opened (code 4) or read whole (code 5), or "" when
// it can; its bytes in `bytes` when it was read.
std::string problemOf(const std::string& path, int code, bool unicode, std::string& bytes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::strerror(errno);
  if (code == 4) {
    ::close(fd);
    return "";
  }
  std::string why;
  std::vector<char> buf(1 << 16);
  while (bytes.size() < kMaxRead) {
    ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) why = std::strerror(errno);
    if (n <= 0) break;
    bytes.append(buf.data(), static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (!why.empty()) return why;
  // A text ends at its first zero character; a mark of UTF-16 or UTF-32
  // says the zeros are parts of characters, for the Unicode build.
  bool marked = bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0 ||
                bytes.rfind(std::string("\0\0\xFE\xFF", 4), 0) == 0;
  std::size_t zero = bytes.find('\0');
  if ((!unicode || !marked) && zero != std::string::npos && bytes.find_first_not_of('\0', zero) != std::string::npos)
    return "its text holds a zero character at byte " + std::to_string(zero + 1);
  return "";
}

}  // namespace

IncludeProblem includeFailure(Session& s, std::u32string_view templateVar, const std::optional<std::string>& filesDir,
                              int code) {
  std::u32string base = filesDir ? toText(*filesDir, s.unicode, "files directory") : U"";
  struct Pending {
    std::vector<std::u32string> tags;
    int depth;
    std::size_t root;  // the template's tag that brought them in
  };
  std::deque<Pending> pending{{listTags(s, Arg::reference(std::u32string(templateVar))), 0, 0}};
  std::set<std::string> seen;
  while (!pending.empty()) {
    Pending p = std::move(pending.front());
    pending.pop_front();
    for (std::size_t i = 0; i < p.tags.size(); ++i) {
      const auto& tag = p.tags[i];
      std::size_t root = p.depth ? p.root : i;
      bool tagged = false;
      std::optional<std::u32string> name = includedName(tag, tagged);
      if (!name) continue;
      std::u32string where = lookedFor(*name, base);
      std::string path = s.unicode ? encodeUtf8(where) : toLatin1(where);
      if (!seen.insert(path).second) continue;
      std::string bytes;
      std::string why = problemOf(path, code, s.unicode, bytes);
      std::string shown = (tagged ? "TAGGEDFILE=" : "FILE=") + encodeUtf8(*name);
      if (!why.empty()) return {shown + ": looked for as " + path + ": " + why, root};
      if (tagged && p.depth < kMaxNesting) {
        if (code == 4) problemOf(path, 5, s.unicode, bytes);
        pending.push_back(
            {listTags(s, Arg::text(s.unicode ? decodeUtf8(bytes) : fromLatin1(bytes))), p.depth + 1, root});
      }
    }
  }
  return {};
}

}  // namespace moravel::tool
