/* files.cpp: joins file names with the files directory, and reads included files whole. */
#include <string.h>

#include "../glue/kxpqutil.h"
#include "../glue/omstring.h"
#include "../platform/platform.h"
#include "moravel.h"

/* The Mac path buffer is counted: element 0 holds the length. */
enum { kNameStart = MORAVEL_MAC ? 1 : 0 };

static qbool HasAfterFirst(const qchar *name, qchar delim)
{
  if (!name[0]) return 0;
  for (const qchar *p = name + 1; *p; p++)
    if (*p == delim) return 1;
  return 0;
}

/* The first delimiter kind, in platform order, that the name begins with or
   has; 0 when it has none. */
static qchar DelimiterKind(const qchar *name)
{
  for (int i = 0; i < 3; i++) {
    qchar d = (qchar)PlatDelimOrder()[i];
    if (name[0] == d || HasAfterFirst(name, d)) return d;
  }
  return 0;
}

void AdjustPath(globals *myGlobsP)
{
  qlong baselen = OMstrlen(myGlobsP->basePathP);
  if (baselen == 0) return;
  qchar *name = myGlobsP->subBufP + kNameStart;
  qlong n = OMstrlen(name);

  qchar delim = PlatDelim();
  qchar kind = DelimiterKind(name);
  if (kind && kind != delim)
    for (qchar *p = name; *p; p++)
      if (*p == kind) *p = delim;
  qbool hasDelim = kind && HasAfterFirst(name, delim);
  qbool beginsWithDelim = hasDelim && name[0] == delim;
  if (hasDelim && !beginsWithDelim) return; /* a full path, used as it stands */

  if (!MakeRoomFor(&myGlobsP->subBufP, &myGlobsP->subBufSize, (int64_t)baselen + n + 2, (int64_t)n + 2, 0))
    return;
  NoteReach(&myGlobsP->subBufReach, (int64_t)kNameStart + baselen + n + 1);
  qchar *path = myGlobsP->subBufP + kNameStart;
  qlong skip = beginsWithDelim ? 1 : 0;
  memmove(path + baselen, path + skip, ((size_t)(n - skip) + 1) * sizeof(qchar));
  memcpy(path, myGlobsP->basePathP, (size_t)baselen * sizeof(qchar));
#if MORAVEL_MAC
  myGlobsP->subBufP[0] = (qchar)(baselen + n - skip);
#endif
}

#if MORAVEL_MAC
enum { kMaxHfsName = 255 };
#endif

/* The path buffer, in place, in the platform's form of a file name; false
   when the platform cannot be given the name as it stands. */
static qbool NativeFileName(qchar *path)
{
#if MORAVEL_MAC
  /* A length byte in front. A name it cannot count, or with a character one
     byte cannot hold, would name some other file once cut to fit. */
  qlong n = (qlong)path[0];
  if (n > kMaxHfsName) return 0;
  for (qlong i = 1; i <= n; i++)
    if (path[i] == 0 || path[i] > 0xFF) return 0;
  path[n + 1] = 0;
  CHRcopyQcharStringToAscii(path, (uint8_t *)path, 1);
#elif MORAVEL_UNICODE && defined(MORAVEL_PLATFORM_WINDOWS)
  CHRcharToOschar(path, (oschar *)path); /* at most two units a qchar: it fits in place */
#elif MORAVEL_UNICODE
  CHRcharToUtf8(path, (uint8_t *)path); /* at most four bytes a qchar: it fits in place */
#else
  (void)path; /* the bytes as they are */
#endif
  return 1;
}

enum {
  kMaxFileBytes = INT32_MAX - 2, /* a block's size is a qlong, with two zero bytes after the text */
  /* A stream longer than this could not be held once decoded, at one qchar a byte at most. */
  kMaxStreamBytes = INT32_MAX / (qlong)sizeof(qchar) - 2,
  kFirstStreamRoom = 64 * 1024
};

/* A file whose size is not known beforehand, read from where it stands to
   its end into a block that doubles as it fills, through the work buffers'
   one growth routine; room for two zero bytes stays after the text. Reading
   on past what a block can hold is a memory failure, so an endless device
   ends the call. */
static uint8_t *ReadToEnd(const PlatFile *file, qshort *status, qlong *got)
{
  qlong room = 0;
  qchar *block = 0;
  *got = 0;
  while (room < kMaxStreamBytes) {
    qlong step = room == 0 ? (qlong)kFirstStreamRoom : room < kMaxStreamBytes - room ? room : kMaxStreamBytes - room;
    if (!GrowBufferIfNeeded(&block, &room, room, step, *got)) break;
    uint8_t *bytes = (uint8_t *)block;
    qlong n = 0;
    if (PlatReadFile(file, bytes + *got, room - *got, &n) != kErrNone || n < 0 || n > room - *got) {
      DisposeXPPointer(block);
      *status = kErrRead;
      return 0;
    }
    *got += n;
    if (*got < room) return bytes; /* a short read is the end */
  }
  if (block) DisposeXPPointer(block);
  *status = kErrMemory;
  return 0;
}

/* The bytes of the whole file that the path buffer names, two zero bytes
   after them, in a block of the caller's; *nbytes counts them. Each step runs
   while the status is 0, and a file that was opened is closed whatever
   happened. */
static uint8_t *ReadFileBytes(qchar *path, qshort *status, qlong *nbytes)
{
  *nbytes = 0;
  PlatFile file;
  *status = !NativeFileName(path) ? (qshort)kErrOpen : PlatOpenFile(path, &file);
  if (*status != kErrNone) return 0;

  int64_t size = 0;
  if (PlatFileSize(&file, &size) != kErrNone || size > kMaxFileBytes) *status = kErrRead;
  uint8_t *block = 0;
  qlong got = 0;
  if (*status == kErrNone && size == kPlatSizeUnknown) {
    block = ReadToEnd(&file, status, &got);
  } else {
    if (*status == kErrNone && !(block = (uint8_t *)NewXPPointer((qlong)size + 2))) *status = kErrMemory;
    if (*status == kErrNone && PlatSeekFileStart(&file) != kErrNone) *status = kErrRead;
    if (*status == kErrNone && (PlatReadFile(&file, block, (qlong)size, &got) != kErrNone || got < 0 || got > size))
      *status = kErrRead;
  }
  if (PlatCloseFile(&file) != kErrNone && *status == kErrNone) *status = kErrRead;

  if (*status != kErrNone) {
    if (block) DisposeXPPointer(block);
    return 0;
  }
  block[got] = 0;
  block[got + 1] = 0;
  *nbytes = got;
  return block;
}

qchar *FetchFile(qchar *path, qshort *result, qlong *readsize)
{
  qlong nbytes;
  uint8_t *raw = ReadFileBytes(path, result, &nbytes);
  *readsize = 0;
  if (!raw) return 0;
#if MORAVEL_UNICODE
  /* Every decoding yields at most one character per byte. */
  qlong bytes;
  qchar *text = QBytes((int64_t)nbytes + 1, &bytes) ? (qchar *)NewXPPointer(bytes) : 0;
  if (!text) {
    DisposeXPPointer(raw);
    *result = kErrMemory;
    return 0;
  }
  qlong count = DecodeFileText(raw, nbytes, text);
  text[count] = 0;
  DisposeXPPointer(raw);
#else
  qchar *text = raw;
  qlong count = nbytes;
#endif
  if (!IsWholeText(text, &count)) {
    DisposeXPPointer(text);
    *result = kErrRead;
    return 0;
  }
  *readsize = count;
  return text;
}
