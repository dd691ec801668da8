// macsubst.h: controls of the stand-in for the Mac system functions the Mac
// build of the plug-in calls (platform/mac_api.h), so that build runs on Linux.
//
// File Manager: a full HFS path "Volume:dir:file" names volumesDirectory/Volume/
// dir/file; a name without a colon, or one that begins with a colon, is taken
// relative to the default directory. Each colon after the first of a run goes
// one directory up, as in HFS ("Disk:Site::x" is Disk:x). Resource Manager:
// string lists come from a Rez source ('STR#' resources). Text Encoding
// Converter: Mac Roman to UTF-16 in the machine's byte order.
#pragma once

#include <cstdint>
#include <string>

namespace macsubst {

// Where volumes and the default directory are; both empty at first.
void setVolumesDirectory(const std::string& dir);
void setDefaultDirectory(const std::string& dir);

// Every HOpen answers `err` without opening anything (0: off).
void forceOpenError(short err);
// The names HOpen was given, as the bytes after the length byte.
const std::string& lastOpenName();
long openCalls();
long openFiles();  // opened and not yet closed

// The file string lists are read from: a Rez source, or a classic resource
// file as a bundle ships (default: the build's Rez source).
void useResourceFile(const std::string& path);
long resourceReads();
// Whether converters can be created; how many were.
void refuseConverters(bool refuse);
long convertersCreated();

long beeps();
int lastBeepDuration();

// Blocks from NewPtrClear not yet given back.
long liveBlocks();

}  // namespace macsubst
