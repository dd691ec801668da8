/* mac_api.h: the Carbon and CoreServices functions and types the Mac build
   uses, declared as the system declares them. On a Mac with the system's
   headers (MORAVEL_MAC_SYSTEM_HEADERS) those are included instead; without
   them a build links against a substitute that provides these functions. */
#ifndef MORAVEL_MAC_API_H
#define MORAVEL_MAC_API_H

#if defined(MORAVEL_MAC_SYSTEM_HEADERS) && MORAVEL_MAC_SYSTEM_HEADERS

#include <Carbon/Carbon.h>

#else

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef SInt16 OSErr;
typedef SInt32 OSStatus;
typedef long Size;
typedef char *Ptr;
typedef unsigned long ByteCount;
typedef unsigned char Str255[256];
typedef unsigned char *StringPtr;
typedef const unsigned char *ConstStr255Param;
typedef UInt8 *TextPtr;
typedef const UInt8 *ConstTextPtr;
typedef SInt16 FSVolumeRefNum;
typedef SInt16 FSIORefNum;

enum { noErr = 0 };

/* The system's functions, as its headers declare them; sizes and counts are
   in bytes, failures an OSErr (noErr: none). */

/* Memory Manager. */
/* A zero-filled block of byteCount bytes, released with DisposePtr; null
   when memory runs out (MemError then says why). */
Ptr NewPtrClear(Size byteCount);
void DisposePtr(Ptr p);
/* The size in bytes of a block of NewPtrClear. */
Size GetPtrSize(Ptr p);
/* The result of the last Memory Manager call. */
OSErr MemError(void);

/* File Manager. */
enum { fsRdPerm = 1 };
enum { fsAtMark = 0, fsFromStart = 1, fsFromLEOF = 2, fsFromMark = 3 };
enum {
  fnfErr = -43,
  eofErr = -39,
  opWrErr = -49,
  permErr = -54
};

typedef void *IOCompletionUPP;

/* The File Manager's parameter blocks keep the 68k alignment of the system's
   headers: 2-byte packing. */
#pragma pack(push, 2)
typedef struct IOParam {
  void *qLink;
  SInt16 qType;
  SInt16 ioTrap;
  Ptr ioCmdAddr;
  IOCompletionUPP ioCompletion;
  volatile OSErr ioResult;
  StringPtr ioNamePtr;
  FSVolumeRefNum ioVRefNum;
  FSIORefNum ioRefNum;
  SInt8 ioVersNum;
  SInt8 ioPermssn;
  Ptr ioMisc;
  Ptr ioBuffer;
  ByteCount ioReqCount;
  ByteCount ioActCount;
  SInt16 ioPosMode;
  SInt32 ioPosOffset;
} IOParam;

typedef union ParamBlockRec {
  IOParam ioParam;
} ParamBlockRec;
#pragma pack(pop)
typedef ParamBlockRec *ParmBlkPtr;

/* Opens the file of the length-byte name fileName (a full HFS path, or one
   relative to the default directory with vRefNum and dirID 0): *refNum. */
OSErr HOpen(FSVolumeRefNum vRefNum, SInt32 dirID, ConstStr255Param fileName, SInt8 permission,
            FSIORefNum *refNum);
/* The logical end of file of ioRefNum, in bytes, into ioMisc. */
OSErr PBGetEOFSync(ParmBlkPtr paramBlock);
/* Moves the file mark of refNum to posOff bytes from where posMode says. */
OSErr SetFPos(FSIORefNum refNum, SInt16 posMode, SInt32 posOff);
/* Reads ioReqCount bytes into ioBuffer; ioActCount says how many came
   (eofErr: the file ended first). */
OSErr PBReadSync(ParmBlkPtr paramBlock);
/* Closes ioRefNum. */
OSErr PBCloseSync(ParmBlkPtr paramBlock);

/* Resource Manager. */
void GetIndString(Str255 theString, SInt16 strListID, SInt16 index);

/* Text Encoding Converter. */
typedef UInt32 TextEncoding;
typedef UInt32 TextEncodingBase;
typedef UInt32 TextEncodingVariant;
typedef UInt32 TextEncodingFormat;
typedef struct OpaqueTECObjectRef *TECObjectRef;
enum {
  kTextEncodingMacRoman = 0,
  kTextEncodingUnicodeDefault = 0x0100,
  kTextEncodingDefaultVariant = 0,
  kTextEncodingDefaultFormat = 0
};
/* The output buffer filled before the input was used up: what fitted was written. */
enum { kTECOutputBufferFullStatus = -8785 };

/* The Text Encoding Converter turns the catalogue's Mac Roman strings into
   UTF-16; buffer lengths in bytes. The library makes one converter, at its
   first use, and keeps it. */
TextEncoding CreateTextEncoding(TextEncodingBase encodingBase, TextEncodingVariant encodingVariant,
                                TextEncodingFormat encodingFormat);
OSStatus TECCreateConverter(TECObjectRef *newEncodingConverter, TextEncoding inputEncoding,
                            TextEncoding outputEncoding);
OSStatus TECConvertText(TECObjectRef encodingConverter, ConstTextPtr inputBuffer, ByteCount inputBufferLength,
                        ByteCount *actualInputLength, TextPtr outputBuffer, ByteCount outputBufferLength,
                        ByteCount *actualOutputLength);
OSStatus TECFlushText(TECObjectRef encodingConverter, TextPtr outputBuffer, ByteCount outputBufferLength,
                      ByteCount *actualOutputLength);

/* 80-bit extended numbers. */
typedef struct extended80 {
  SInt16 exp;
  UInt16 man[4];
} extended80;

/* The host's 80-bit numbers to and from doubles (the Mac host hands numbers
   as extended80). */
double x80tod(const extended80 *x80);
void dtox80(const double *x, extended80 *x80);

/* Sound. */
void SysBeep(SInt16 duration);

#ifdef __cplusplus
}
#endif

#endif

#endif
