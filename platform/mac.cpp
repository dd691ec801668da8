/* mac.cpp: memory, file reading, catalogue strings and the beep on the Mac. */
#include <string.h>

#include "../glue/kxpqutil.h"
#include "../glue/omstring.h"
#include "../glue/testhooks.h"
#include "mac_api.h"
#include "platform.h"

const qchar kPlatDelim = ':';
const char kPlatDelimOrder[3] = {':', '/', '\\'};

void *PlatAlloc(qlong size) { return NewPtrClear((Size)size); }
void PlatFree(void *block) { DisposePtr((Ptr)block); }

/* A new block with the kept bytes copied, so that the bytes beyond them are
   whatever the new block holds. */
void *PlatResize(void *block, qlong size)
{
  Ptr newP = NewPtrClear((Size)size);
  if (!newP) return 0;
  Size keep = GetPtrSize((Ptr)block);
  if (keep > (Size)size) keep = (Size)size;
  if (keep > 0) memcpy(newP, block, (size_t)keep);
  DisposePtr((Ptr)block);
  return newP;
}

void PlatBeep(void)
{
  TestNoteBeep();
  SysBeep(3);
}

enum { kMaxHfsName = 255 };

/* The counted path buffer (element 0 the length) as a name with a length
   byte in front, in place. A name the length byte cannot count, or with a
   character that one byte cannot hold, would name some other file once cut
   to fit; it is refused instead. */
static qbool PathToHfsName(qchar *path)
{
  qlong n = (qlong)path[0];
  if (n > kMaxHfsName) return 0;
  for (qlong i = 1; i <= n; i++)
    if (path[i] == 0 || path[i] > 0xFF) return 0;
  path[n + 1] = 0;
  CHRcopyQcharStringToAscii(path, (uint8_t *)path, 1);
  return 1;
}

uint8_t *PlatFetchFileBytes(qchar *path, qshort *status, qlong *nbytes)
{
  uint8_t *block = 0;
  qlong size = 0, got = 0;
  *status = 0;
  *nbytes = 0;

  if (!PathToHfsName(path)) {
    *status = 4;
    return 0;
  }
  FSIORefNum refNum = 0;
  OSErr err = TestFileStepShouldFail(1) ? (OSErr)fnfErr : HOpen(0, 0, (ConstStr255Param)path, fsRdPerm, &refNum);
  if (err != noErr) {
    *status = (err == permErr || err == opWrErr) ? 5 : 4;
    return 0;
  }
  TestNoteFileOpen();

  ParamBlockRec pb;
  memset(&pb, 0, sizeof pb);
  pb.ioParam.ioRefNum = refNum;
  if (TestFileStepShouldFail(2) || PBGetEOFSync(&pb) != noErr) {
    *status = 5;
  } else {
    intptr_t eof = (intptr_t)pb.ioParam.ioMisc;
    if (eof < 0 || eof > (intptr_t)(INT32_MAX - 2))
      *status = 5;
    else
      size = (qlong)eof;
  }

  if (*status == 0) {
    block = (uint8_t *)NewXPPointer(size + 2);
    if (!block) *status = 2;
  }
  if (*status == 0 && (TestFileStepShouldFail(3) || SetFPos(refNum, fsFromStart, 0) != noErr)) *status = 5;
  if (*status == 0) {
    pb.ioParam.ioCompletion = 0;
    pb.ioParam.ioBuffer = (Ptr)block;
    pb.ioParam.ioReqCount = (ByteCount)size;
    pb.ioParam.ioPosMode = fsFromMark;
    pb.ioParam.ioPosOffset = 0;
    if (TestFileStepShouldFail(4) || PBReadSync(&pb) != noErr)
      *status = 5;
    else
      got = (qlong)pb.ioParam.ioActCount;
    if (got > size) *status = 5;
  }
  OSErr closed = PBCloseSync(&pb);
  TestNoteFileClose();
  if ((TestFileStepShouldFail(5) || closed != noErr) && *status == 0) *status = 5;

  return FinishFileBytes(block, got, *status, nbytes);
}

/* Catalogue strings: entries of a string list, in Mac Roman, turned into
   UTF-16 by one converter made on first use and kept. */
static TECObjectRef sResourceCharConverter;
static qbool sConverterFailed;

static TECObjectRef ResourceCharConverter(void)
{
  if (!sResourceCharConverter && !sConverterFailed) {
    TextEncoding macRoman =
        CreateTextEncoding(kTextEncodingMacRoman, kTextEncodingDefaultVariant, kTextEncodingDefaultFormat);
    TextEncoding unicode =
        CreateTextEncoding(kTextEncodingUnicodeDefault, kTextEncodingDefaultVariant, kTextEncodingDefaultFormat);
    if (TECCreateConverter(&sResourceCharConverter, macRoman, unicode) != noErr) {
      sResourceCharConverter = 0;
      sConverterFailed = 1;
    }
  }
  return sResourceCharConverter;
}

void GetResourceOstr(oschar *buf, qlong maxlen, qlong strid, qlong index, qbool isPstring)
{
  if (maxlen <= 0) return;
  buf[0] = 0;
  /* Room for the count, at least one unit and the zero unit after them. */
  if (maxlen < 3) return;
  Str255 text;
  text[0] = 0;
  GetIndString(text, (SInt16)strid, (SInt16)index);
  ByteCount produced = 0;
  TECObjectRef converter = text[0] ? ResourceCharConverter() : 0;
  if (converter) {
    /* The units go after buf[0]; the last unit of buf is kept for the zero
       unit, so the conversion may fill maxlen - 2 units. */
    ByteCount room = (ByteCount)(maxlen - 2) * sizeof(oschar);
    ByteCount used = 0, flushed = 0;
    OSStatus err = TECConvertText(converter, text + 1, text[0], &used, (TextPtr)(buf + 1), room, &produced);
    if (err == noErr || err == kTECOutputBufferFullStatus) {
      if (produced > room) produced = room;
      if (TECFlushText(converter, (TextPtr)(buf + 1) + produced, room - produced, &flushed) == noErr &&
          flushed <= room - produced)
        produced += flushed;
    } else {
      produced = 0;
    }
    produced -= produced % sizeof(oschar);
  }
  qlong count = (qlong)(produced / sizeof(oschar));
  if (isPstring) {
    buf[0] = (oschar)count;
    buf[count + 1] = 0;
  } else {
    memmove(buf, buf + 1, (size_t)count * sizeof(oschar));
    buf[count] = 0;
  }
}
