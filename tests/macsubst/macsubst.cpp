// macsubst.cpp: the Mac system functions of platform/mac_api.h, on Linux,
// for building and testing the Mac build of the plug-in.
#include "macsubst.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "../../platform/mac_api.h"
#include "moravel/extended80.h"

namespace {

// Error codes of the File Manager not named in mac_api.h.
constexpr OSErr kIoErr = -36, kBdNamErr = -37, kNsvErr = -35, kRfNumErr = -51, kDirNFErr = -120,
                kNotAFileErr = -1302, kParamErr = -50, kMemFullErr = -108;
constexpr OSStatus kTECNoConversionPathErr = -8749;

struct State {
  std::string volumes, defaultDir;
  short forcedOpenError = 0;
  std::string lastName;
  long openCalls = 0;
  std::map<FSIORefNum, int> files;
  FSIORefNum nextRef = 1;
  std::string resourceFile = MACSUBST_DEFAULT_RESOURCES;
  long resourceReads = 0;
  bool refuseConverters = false;
  long converters = 0;
  long beeps = 0;
  int lastBeep = 0;
  long liveBlocks = 0;
  OSErr memError = noErr;
};

State& state() {
  static State s;
  return s;
}

// ---- Memory: every block carries its size in front of it. ----
constexpr std::size_t kHeader = 16;

// ---- Paths ----

// One HFS name as a file name here: "/" is a legal HFS character, shown as
// ":" by the system; "." and ".." name nothing in HFS.
bool hfsComponent(const std::string& c, std::string& out) {
  if (c == "." || c == "..") return false;
  out = c;
  for (char& ch : out)
    if (ch == '/') ch = ':';
  return true;
}

bool isDirectory(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Resolves an HFS name (vRefNum 0, dirID 0) to a path here, or an error.
OSErr resolve(const std::string& name, std::string& path) {
  State& s = state();
  if (name.empty()) return kBdNamErr;
  std::vector<std::string> dirs;  // directories below the root, innermost last
  std::string root;
  std::size_t pos = 0;
  std::size_t colon = name.find(':');
  if (colon != std::string::npos && colon > 0) {
    // Full path: the volume first.
    if (s.volumes.empty()) return kNsvErr;
    std::string vol;
    if (!hfsComponent(name.substr(0, colon), vol)) return kNsvErr;
    root = s.volumes + "/" + vol;
    if (!isDirectory(root)) return kNsvErr;
    pos = colon + 1;
  } else {
    if (s.defaultDir.empty()) return kDirNFErr;
    root = s.defaultDir;
    if (colon == 0) pos = 1;
  }
  // Walk the components; runs of colons go up.
  std::string component;
  for (;;) {
    std::size_t next = name.find(':', pos);
    if (next == std::string::npos) {
      component = name.substr(pos);
      break;
    }
    std::string part = name.substr(pos, next - pos);
    if (part.empty()) {
      if (dirs.empty()) return kDirNFErr;  // above the volume or the default directory
      dirs.pop_back();
    } else {
      std::string d;
      if (!hfsComponent(part, d)) return kDirNFErr;
      dirs.push_back(d);
    }
    pos = next + 1;
  }
  path = root;
  for (const auto& d : dirs) {
    path += "/" + d;
    if (!isDirectory(path)) return kDirNFErr;
  }
  if (component.empty()) return kNotAFileErr;  // the name ends with a colon: a directory
  std::string file;
  if (!hfsComponent(component, file)) return fnfErr;
  path += "/" + file;
  return noErr;
}

// A parameter block's result, as the call also returns it.
OSErr finish(IOParam& io, OSErr err) {
  io.ioResult = err;
  return err;
}

int fileOf(FSIORefNum ref) {
  auto it = state().files.find(ref);
  return it == state().files.end() ? -1 : it->second;
}

// ---- Resources ----

std::uint32_t big(const std::string& b, std::size_t at, int n) {
  std::uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | static_cast<unsigned char>(b.at(at + static_cast<std::size_t>(i)));
  return v;
}

// Whether the bytes are a classic resource file: its header's data and map
// lie inside it and the map ends it.
bool isResourceFile(const std::string& b) {
  if (b.size() < 16) return false;
  std::uint32_t data = big(b, 0, 4), map = big(b, 4, 4), dataLength = big(b, 8, 4), mapLength = big(b, 12, 4);
  return data >= 16 && data + dataLength <= map && static_cast<std::uint64_t>(map) + mapLength == b.size() &&
         mapLength >= 30;
}

// The 'STR#' resources of a classic resource file: the map's type list
// leads to each resource's data, a count and then Pascal strings.
std::map<int, std::vector<std::string>> readResourceFile(const std::string& b) {
  std::map<int, std::vector<std::string>> lists;
  std::uint32_t data = big(b, 0, 4), map = big(b, 4, 4);
  std::uint32_t types = map + big(b, map + 24, 2);
  std::uint32_t typeCount = big(b, types, 2) + 1;
  for (std::uint32_t t = 0; t < typeCount; ++t) {
    std::uint32_t entry = types + 2 + 8 * t;
    if (big(b, entry, 4) != 0x53545223) continue;  // 'STR#'
    std::uint32_t count = big(b, entry + 4, 2) + 1, refs = types + big(b, entry + 6, 2);
    for (std::uint32_t r = 0; r < count; ++r) {
      std::uint32_t ref = refs + 12 * r;
      int id = static_cast<std::int16_t>(big(b, ref, 2));
      std::uint32_t at = data + big(b, ref + 5, 3) + 4;
      std::vector<std::string> entries(big(b, at, 2));
      at += 2;
      for (auto& e : entries) {
        std::uint32_t n = big(b, at, 1);
        e = b.substr(at + 1, n);
        at += 1 + n;
      }
      lists[id] = std::move(entries);
    }
  }
  return lists;
}

// Reads the 'STR#' resources of a classic resource file, or of a Rez
// source: resource 'STR#' (id ...) { { "a", "b" } };
// Strings are in Mac Roman; \$XX gives the byte XX, \" and \\ themselves.
std::map<int, std::vector<std::string>> readStringLists(const std::string& file) {
  std::map<int, std::vector<std::string>> lists;
  std::ifstream in(file, std::ios::binary);
  if (!in) return lists;
  std::stringstream ss;
  ss << in.rdbuf();
  std::string src = ss.str();
  if (isResourceFile(src)) return readResourceFile(src);
  // Comments out first, strings kept.
  std::string text;
  for (std::size_t i = 0; i < src.size(); ++i) {
    if (src[i] == '"') {
      std::size_t j = i + 1;
      while (j < src.size() && src[j] != '"') j += src[j] == '\\' ? 2 : 1;
      text += src.substr(i, j + 1 - i);
      i = j;
    } else if (src.compare(i, 2, "/*") == 0) {
      std::size_t j = src.find("*/", i + 2);
      i = j == std::string::npos ? src.size() : j + 1;
    } else if (src.compare(i, 2, "//") == 0) {
      std::size_t j = src.find('\n', i);
      i = j == std::string::npos ? src.size() : j - 1;
    } else {
      text += src[i];
    }
  }
  std::size_t pos = 0;
  const std::string key = "resource 'STR#'";
  while ((pos = text.find(key, pos)) != std::string::npos) {
    pos += key.size();
    std::size_t open = text.find('(', pos);
    if (open == std::string::npos) break;
    int id = std::atoi(text.c_str() + open + 1);
    std::size_t body = text.find('{', open);
    if (body == std::string::npos) break;
    body = text.find('{', body + 1);
    if (body == std::string::npos) break;
    std::vector<std::string> entries;
    std::string current;
    bool haveString = false;
    std::size_t i = body + 1;
    for (; i < text.size() && text[i] != '}'; ++i) {
      char c = text[i];
      if (c == '"') {
        haveString = true;
        for (++i; i < text.size() && text[i] != '"'; ++i) {
          if (text[i] != '\\' || i + 1 >= text.size()) {
            current += text[i];
            continue;
          }
          char e = text[++i];
          if (e == '$' && i + 2 < text.size()) {
            current += static_cast<char>(std::strtol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
          } else if (e == 'n') {
            current += '\r';
          } else if (e == 't') {
            current += '\t';
          } else {
            current += e;
          }
        }
      } else if (c == ',') {
        entries.push_back(current);
        current.clear();
        haveString = false;
      }
    }
    if (haveString) entries.push_back(current);
    lists[id] = std::move(entries);
    pos = i;
  }
  return lists;
}

// ---- Text encodings ----

// Mac Roman 0x80..0xFF in Unicode.
const std::uint16_t kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7};

constexpr TextEncodingBase baseOf(TextEncoding e) { return e & 0xFFFF; }

}  // namespace

struct OpaqueTECObjectRef {
  int unused;
};

namespace macsubst {

void setVolumesDirectory(const std::string& dir) { state().volumes = dir; }
void setDefaultDirectory(const std::string& dir) { state().defaultDir = dir; }
void forceOpenError(short err) { state().forcedOpenError = err; }
const std::string& lastOpenName() { return state().lastName; }
long openCalls() { return state().openCalls; }
long openFiles() { return static_cast<long>(state().files.size()); }
void useResourceFile(const std::string& path) { state().resourceFile = path; }
long resourceReads() { return state().resourceReads; }
void refuseConverters(bool refuse) { state().refuseConverters = refuse; }
long convertersCreated() { return state().converters; }
long beeps() { return state().beeps; }
int lastBeepDuration() { return state().lastBeep; }
long liveBlocks() { return state().liveBlocks; }

}  // namespace macsubst

extern "C" {

Ptr NewPtrClear(Size byteCount) {
  State& s = state();
  if (byteCount < 0) {
    s.memError = kParamErr;
    return nullptr;
  }
  auto* raw = static_cast<char*>(std::calloc(1, static_cast<std::size_t>(byteCount) + kHeader));
  if (!raw) {
    s.memError = kMemFullErr;
    return nullptr;
  }
  std::memcpy(raw, &byteCount, sizeof byteCount);
  s.memError = noErr;
  s.liveBlocks++;
  return raw + kHeader;
}

void DisposePtr(Ptr p) {
  if (!p) return;
  state().liveBlocks--;
  std::free(p - kHeader);
}

Size GetPtrSize(Ptr p) {
  if (!p) return 0;
  Size n;
  std::memcpy(&n, p - kHeader, sizeof n);
  return n;
}

OSErr MemError(void) { return state().memError; }

OSErr HOpen(FSVolumeRefNum vRefNum, SInt32 dirID, ConstStr255Param fileName, SInt8 permission,
            FSIORefNum* refNum) {
  State& s = state();
  s.openCalls++;
  *refNum = 0;
  if (!fileName) return kBdNamErr;
  s.lastName.assign(reinterpret_cast<const char*>(fileName + 1), fileName[0]);
  if (s.forcedOpenError) return s.forcedOpenError;
  if (vRefNum != 0 || dirID != 0 || permission != fsRdPerm) return kParamErr;
  std::string path;
  if (OSErr err = resolve(s.lastName, path); err != noErr) return err;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return fnfErr;
    if (errno == EACCES || errno == EPERM) return permErr;
    return kIoErr;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    bool dir = S_ISDIR(st.st_mode);
    close(fd);
    return dir ? kNotAFileErr : kIoErr;
  }
  FSIORefNum ref = s.nextRef++;
  s.files[ref] = fd;
  *refNum = ref;
  return noErr;
}

OSErr PBGetEOFSync(ParmBlkPtr pb) {
  int fd = fileOf(pb->ioParam.ioRefNum);
  if (fd < 0) return finish(pb->ioParam, kRfNumErr);
  struct stat st;
  if (fstat(fd, &st) != 0) return finish(pb->ioParam, kIoErr);
  pb->ioParam.ioMisc = reinterpret_cast<Ptr>(static_cast<intptr_t>(st.st_size));
  return finish(pb->ioParam, noErr);
}

OSErr SetFPos(FSIORefNum refNum, SInt16 posMode, SInt32 posOff) {
  int fd = fileOf(refNum);
  if (fd < 0) return kRfNumErr;
  int whence = posMode == fsFromStart ? SEEK_SET : posMode == fsFromLEOF ? SEEK_END : SEEK_CUR;
  if (posMode == fsAtMark) posOff = 0;
  return lseek(fd, posOff, whence) < 0 ? kIoErr : OSErr{noErr};
}

OSErr PBReadSync(ParmBlkPtr pb) {
  IOParam& io = pb->ioParam;
  io.ioActCount = 0;
  int fd = fileOf(io.ioRefNum);
  if (fd < 0) return finish(io, kRfNumErr);
  if (io.ioPosMode != fsAtMark && SetFPos(io.ioRefNum, io.ioPosMode, io.ioPosOffset) != noErr)
    return finish(io, kIoErr);
  ByteCount got = 0;
  while (got < io.ioReqCount) {
    ssize_t n = read(fd, io.ioBuffer + got, io.ioReqCount - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      io.ioActCount = got;
      return finish(io, kIoErr);
    }
    if (n == 0) break;
    got += static_cast<ByteCount>(n);
  }
  io.ioActCount = got;
  return finish(io, got < io.ioReqCount ? OSErr{eofErr} : OSErr{noErr});
}

OSErr PBCloseSync(ParmBlkPtr pb) {
  auto& files = state().files;
  auto it = files.find(pb->ioParam.ioRefNum);
  if (it == files.end()) return finish(pb->ioParam, kRfNumErr);
  int r = close(it->second);
  files.erase(it);
  return finish(pb->ioParam, r == 0 ? OSErr{noErr} : kIoErr);
}

void GetIndString(Str255 theString, SInt16 strListID, SInt16 index) {
  State& s = state();
  s.resourceReads++;
  theString[0] = 0;
  auto lists = readStringLists(s.resourceFile);
  auto it = lists.find(strListID);
  if (it == lists.end() || index < 1 || static_cast<std::size_t>(index) > it->second.size()) return;
  const std::string& e = it->second[static_cast<std::size_t>(index) - 1];
  std::size_t n = std::min<std::size_t>(e.size(), 255);
  theString[0] = static_cast<unsigned char>(n);
  std::memcpy(theString + 1, e.data(), n);
}

TextEncoding CreateTextEncoding(TextEncodingBase encodingBase, TextEncodingVariant encodingVariant,
                                TextEncodingFormat encodingFormat) {
  return (encodingBase & 0xFFFF) | ((encodingVariant & 0x3FF) << 16) | ((encodingFormat & 0x3F) << 26);
}

OSStatus TECCreateConverter(TECObjectRef* newEncodingConverter, TextEncoding inputEncoding,
                            TextEncoding outputEncoding) {
  State& s = state();
  *newEncodingConverter = nullptr;
  if (s.refuseConverters || baseOf(inputEncoding) != kTextEncodingMacRoman ||
      baseOf(outputEncoding) != kTextEncodingUnicodeDefault || (outputEncoding >> 26) != 0)
    return kTECNoConversionPathErr;
  static OpaqueTECObjectRef converter;  // one kind of conversion, no state
  s.converters++;
  *newEncodingConverter = &converter;
  return noErr;
}

OSStatus TECConvertText(TECObjectRef encodingConverter, ConstTextPtr inputBuffer, ByteCount inputBufferLength,
                        ByteCount* actualInputLength, TextPtr outputBuffer, ByteCount outputBufferLength,
                        ByteCount* actualOutputLength) {
  *actualInputLength = 0;
  *actualOutputLength = 0;
  if (!encodingConverter) return kParamErr;
  ByteCount in = 0, out = 0;
  for (; in < inputBufferLength; ++in) {
    if (out + 2 > outputBufferLength) break;
    UInt8 b = inputBuffer[in];
    std::uint16_t u = b < 0x80 ? b : kMacRoman[b - 0x80];
    std::memcpy(outputBuffer + out, &u, 2);
    out += 2;
  }
  *actualInputLength = in;
  *actualOutputLength = out;
  return in < inputBufferLength ? OSStatus{kTECOutputBufferFullStatus} : OSStatus{noErr};
}

OSStatus TECFlushText(TECObjectRef encodingConverter, TextPtr, ByteCount, ByteCount* actualOutputLength) {
  *actualOutputLength = 0;
  return encodingConverter ? OSStatus{noErr} : OSStatus{kParamErr};
}

double x80tod(const extended80* x80) { return moravel::extended80::toDouble(*x80); }

void dtox80(const double* x, extended80* x80) { moravel::extended80::fromDouble(*x, *x80); }

void SysBeep(SInt16 duration) {
  state().beeps++;
  state().lastBeep = duration;
}

}  // extern "C"
