/* mac.cpp: memory, file steps, catalogue strings and the beep on the Mac. */
#include <stddef.h>
#include <string.h>

#include "mac_api.h"
#include "filesteps.h"

#if defined(__i386__)
/* What the system reads and writes, laid out as it lays them out for i386. */
static_assert(offsetof(IOParam, ioResult) == 16 && offsetof(IOParam, ioNamePtr) == 18, "IOParam");
static_assert(offsetof(IOParam, ioVRefNum) == 22 && offsetof(IOParam, ioRefNum) == 24, "IOParam");
static_assert(offsetof(IOParam, ioVersNum) == 26 && offsetof(IOParam, ioPermssn) == 27, "IOParam");
static_assert(offsetof(IOParam, ioMisc) == 28 && offsetof(IOParam, ioBuffer) == 32, "IOParam");
static_assert(offsetof(IOParam, ioReqCount) == 36 && offsetof(IOParam, ioActCount) == 40, "IOParam");
static_assert(offsetof(IOParam, ioPosMode) == 44 && offsetof(IOParam, ioPosOffset) == 46, "IOParam");
static_assert(sizeof(IOParam) == 50, "IOParam");
static_assert(sizeof(extended80) == 10 && offsetof(extended80, man) == 2, "extended80");
static_assert(sizeof(Str255) == 256 && sizeof(ByteCount) == 4 && sizeof(Size) == 4, "sizes");
static_assert(sizeof(TextEncoding) == 4 && sizeof(TECObjectRef) == 4 && sizeof(OSStatus) == 4, "TEC types");
#endif

static const char kDelimOrder[3] = {':', '/', '\\'};

qchar PlatDelim(void) { return (qchar)kDelimOrder[0]; }
const char *PlatDelimOrder(void) { return kDelimOrder; }

void *PlatAlloc(qlong size) { return NewPtrClear((Size)size); }
void PlatFree(void *block) { DisposePtr((Ptr)block); }
void PlatFreeWritten(void *block, qlong) { PlatFree(block); }
void PlatDiscardHead(void *, qlong) {}

/* A new cleared block with the kept bytes copied. */
void *PlatResize(void *block, qlong keep, qlong size)
{
  Ptr newP = NewPtrClear((Size)size);
  if (!newP) return 0;
  if (keep > 0) memcpy(newP, block, (size_t)keep);
  DisposePtr((Ptr)block);
  return newP;
}

/* Nothing is kept between calls: every block goes back to the system when released. */
void PlatReleaseKept(void) {}

void PlatBeep(void) { SysBeep(3); }

/* A parameter block of the File Manager for the open file. */
static void FileParams(const PlatFile *file, ParamBlockRec *pb)
{
  memset(pb, 0, sizeof *pb);
  pb->ioParam.ioRefNum = (FSIORefNum)file->ref;
}

/* Read only, on the default volume and directory: a full path name, volume
   name first, or a name relative to the default directory. A permission
   error or a file open for writing: found, but it cannot be read. */
qshort SysOpenFile(const void *name, PlatFile *file)
{
  FSIORefNum refNum = 0;
  OSErr err = HOpen(0, 0, (ConstStr255Param)name, fsRdPerm, &refNum);
  file->ref = refNum;
  if (err == noErr) return kErrNone;
  return err == permErr || err == opWrErr ? (qshort)kErrRead : (qshort)kErrOpen;
}

qshort SysFileSize(const PlatFile *file, int64_t *size)
{
  ParamBlockRec pb;
  FileParams(file, &pb);
  if (PBGetEOFSync(&pb) != noErr) return kErrRead;
  intptr_t eof = (intptr_t)pb.ioParam.ioMisc;
  if (eof < 0) return kErrRead;
  *size = eof;
  return kErrNone;
}

qshort SysSeekFileStart(const PlatFile *file)
{
  return SetFPos((FSIORefNum)file->ref, fsFromStart, 0) == noErr ? (qshort)kErrNone : (qshort)kErrRead;
}

qshort SysReadFile(const PlatFile *file, uint8_t *buffer, qlong count, qlong *got)
{
  ParamBlockRec pb;
  FileParams(file, &pb);
  pb.ioParam.ioBuffer = (Ptr)buffer;
  pb.ioParam.ioReqCount = (ByteCount)count;
  pb.ioParam.ioPosMode = fsFromMark;
  pb.ioParam.ioPosOffset = 0;
  *got = 0;
  if (PBReadSync(&pb) != noErr) return kErrRead;
  *got = (qlong)pb.ioParam.ioActCount;
  return kErrNone;
}

qshort SysCloseFile(const PlatFile *file)
{
  ParamBlockRec pb;
  FileParams(file, &pb);
  return PBCloseSync(&pb) == noErr ? (qshort)kErrNone : (qshort)kErrRead;
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
