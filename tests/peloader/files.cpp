// files.cpp: the file functions of KERNEL32 over this system's files, with
// Windows' share modes among the handles of this process and its error codes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>

#include "files.h"
#include "standins.h"
#include "thread.h"
#include "win32.h"

namespace peloader {

namespace {

struct OpenFile {
  int fd = -1;  // -1: a character device that reads nothing (NUL and its kind)
  dev_t dev = 0;
  ino_t ino = 0;
  DWORD access = 0, share = 0;
};

std::map<std::uintptr_t, OpenFile> gFiles;
std::uintptr_t gNextHandle = 0x100;

bool isDeviceName(std::u16string_view path)
{
  std::size_t slash = path.find_last_of(u"\\/:");
  std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  std::string upper;
  for (char16_t c : name) upper += static_cast<char>(c < 0x80 ? std::toupper(c) : '?');
  if (upper == "NUL" || upper == "CON" || upper == "PRN" || upper == "AUX") return true;
  return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1' &&
         upper[3] <= '9';
}

DWORD errorOf(int err, const std::string& path)
{
  switch (err) {
    case ENOENT: {
      std::string parent = path.substr(0, path.find_last_of('/'));
      struct stat st;
      return parent.empty() || (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? kErrorFileNotFound
                                                                                       : kErrorPathNotFound;
    }
    case ENOTDIR:
      return kErrorPathNotFound;
    case ENAMETOOLONG:
      return kErrorFilenameTooLong;
    default:
      return kErrorAccessDenied;
  }
}

// Whether a new opening with this access and share mode may join those already open on the file.
bool shareAllows(const OpenFile& file)
{
  for (const auto& [handle, other] : gFiles) {
    if (other.fd < 0 || other.dev != file.dev || other.ino != file.ino) continue;
    bool clash = ((other.access & kGenericRead) && !(file.share & kFileShareRead)) ||
                 ((other.access & kGenericWrite) && !(file.share & kFileShareWrite)) ||
                 ((file.access & kGenericRead) && !(other.share & kFileShareRead)) ||
                 ((file.access & kGenericWrite) && !(other.share & kFileShareWrite));
    if (clash) return false;
  }
  return true;
}

HANDLE failWith(DWORD error)
{
  setLastError(error);
  return kInvalidHandle;
}

OpenFile* lookUp(HANDLE h)
{
  auto it = gFiles.find(reinterpret_cast<std::uintptr_t>(h));
  if (it == gFiles.end()) {
    setLastError(kErrorInvalidHandle);
    return nullptr;
  }
  return &it->second;
}

}  // namespace

HANDLE openFile(std::u16string_view name, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
  if (disposition != kOpenExisting) refuse("CreateFile: only OPEN_EXISTING is provided");
  if (flags & kFlagOverlapped) refuse("CreateFile: overlapped files are not provided");
  if (access & ~(kGenericRead | kGenericWrite)) refuse("CreateFile: only GENERIC_READ and GENERIC_WRITE are provided");
  DWORD error;
  std::string path = linuxPath(name, error);
  if (error) return failWith(error);
  OpenFile file;
  file.access = access;
  file.share = share;
  if (isDeviceName(name)) {
    std::uintptr_t h = gNextHandle += 4;
    gFiles[h] = file;
    setLastError(kErrorSuccess);
    return reinterpret_cast<HANDLE>(h);
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return failWith(errorOf(errno, path));
  if (S_ISDIR(st.st_mode) && !(flags & kFlagBackupSemantics)) return failWith(kErrorAccessDenied);
  if (!S_ISDIR(st.st_mode) && (name.back() == '\\' || name.back() == '/')) return failWith(kErrorInvalidName);
  file.dev = st.st_dev;
  file.ino = st.st_ino;
  if (!shareAllows(file)) return failWith(kErrorSharingViolation);
  int mode = (access & kGenericWrite) ? ((access & kGenericRead) ? O_RDWR : O_WRONLY) : O_RDONLY;
  file.fd = open(path.c_str(), mode | O_CLOEXEC);
  if (file.fd < 0) return failWith(errorOf(errno, path));
  std::uintptr_t h = gNextHandle += 4;
  gFiles[h] = file;
  setLastError(kErrorSuccess);
  return reinterpret_cast<HANDLE>(h);
}

long openFileCount() { return static_cast<long>(gFiles.size()); }

namespace {

HANDLE PE_WINAPI CreateFileA(const char* name, DWORD access, DWORD share, void*, DWORD disposition, DWORD flags,
                             HANDLE)
{
  if (!name) refuse("CreateFileA: no name");
  std::u16string wide;
  for (const char* c = name; *c; ++c) wide += fromAnsi(static_cast<unsigned char>(*c));
  return openFile(wide, access, share, disposition, flags);
}

HANDLE PE_WINAPI CreateFileW(const WCHAR* name, DWORD access, DWORD share, void*, DWORD disposition, DWORD flags,
                             HANDLE)
{
  if (!name) refuse("CreateFileW: no name");
  return openFile(std::u16string_view(name), access, share, disposition, flags);
}

BOOL PE_WINAPI CloseHandle(HANDLE h)
{
  OpenFile* f = lookUp(h);
  if (!f) return 0;
  if (f->fd >= 0) close(f->fd);
  gFiles.erase(reinterpret_cast<std::uintptr_t>(h));
  return 1;
}

DWORD PE_WINAPI GetFileType(HANDLE h)
{
  OpenFile* f = lookUp(h);
  if (!f) return kFileTypeUnknown;
  setLastError(kErrorSuccess);
  return f->fd < 0 ? kFileTypeChar : kFileTypeDisk;
}

DWORD PE_WINAPI GetFileSize(HANDLE h, DWORD* high)
{
  OpenFile* f = lookUp(h);
  if (!f) return kInvalidFileSize;
  struct stat st;
  if (f->fd < 0 || fstat(f->fd, &st) != 0) {
    setLastError(kErrorInvalidFunction);
    return kInvalidFileSize;
  }
  auto size = static_cast<std::uint64_t>(st.st_size);
  if (high) *high = static_cast<DWORD>(size >> 32);
  setLastError(kErrorSuccess);  // a low word of 0xFFFFFFFF is then told from a failure
  return static_cast<DWORD>(size);
}

DWORD PE_WINAPI SetFilePointer(HANDLE h, LONG distance, LONG* high, DWORD method)
{
  OpenFile* f = lookUp(h);
  if (!f) return kInvalidFileSize;
  if (method > kFileEnd) {
    setLastError(kErrorInvalidParameter);
    return kInvalidFileSize;
  }
  if (f->fd < 0) {
    if (high) *high = 0;
    setLastError(kErrorSuccess);
    return 0;
  }
  std::int64_t move = high ? (static_cast<std::int64_t>(*high) << 32) | static_cast<DWORD>(distance) : distance;
  std::int64_t from = method == kFileBegin ? 0 : lseek64(f->fd, 0, method == kFileCurrent ? SEEK_CUR : SEEK_END);
  std::int64_t to = from + move;
  if (to < 0) {
    setLastError(kErrorNegativeSeek);
    return kInvalidFileSize;
  }
  if (!high && to > 0xFFFFFFFELL) {
    setLastError(kErrorInvalidParameter);
    return kInvalidFileSize;
  }
  lseek64(f->fd, to, SEEK_SET);
  if (high) *high = static_cast<LONG>(to >> 32);
  setLastError(kErrorSuccess);
  return static_cast<DWORD>(to);
}

BOOL PE_WINAPI ReadFile(HANDLE h, void* buffer, DWORD count, DWORD* read, void* overlapped)
{
  if (overlapped) refuse("ReadFile: overlapped reads are not provided");
  if (!read) refuse("ReadFile: lpNumberOfBytesRead is null, which Windows writes without a check");
  *read = 0;
  OpenFile* f = lookUp(h);
  if (!f) return 0;
  if (!(f->access & kGenericRead)) {
    setLastError(kErrorAccessDenied);
    return 0;
  }
  if (f->fd < 0) return 1;
  auto* to = static_cast<char*>(buffer);
  while (*read < count) {
    ssize_t n = ::read(f->fd, to + *read, count - *read);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      setLastError(errno == EISDIR ? kErrorInvalidFunction : kErrorAccessDenied);
      return 0;
    }
    if (n == 0) break;
    *read += static_cast<DWORD>(n);
  }
  return 1;
}

}  // namespace

const std::vector<StandIn>& fileStandIns()
{
  static const std::vector<StandIn> functions{
      {"CreateFileA", reinterpret_cast<void*>(&CreateFileA)},
      {"CreateFileW", reinterpret_cast<void*>(&CreateFileW)},
      {"CloseHandle", reinterpret_cast<void*>(&CloseHandle)},
      {"GetFileType", reinterpret_cast<void*>(&GetFileType)},
      {"GetFileSize", reinterpret_cast<void*>(&GetFileSize)},
      {"SetFilePointer", reinterpret_cast<void*>(&SetFilePointer)},
      {"ReadFile", reinterpret_cast<void*>(&ReadFile)},
  };
  return functions;
}

}  // namespace peloader
