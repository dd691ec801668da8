/* qtypes.h: the character units, fixed-width integers, result codes and build switches every layer shares. */
#ifndef MORAVEL_QTYPES_H
#define MORAVEL_QTYPES_H

#include <stddef.h>
#include <stdint.h>

/* MORAVEL_UNICODE selects the width of qchar: 0 for the 8-bit build, 1 for
   the Unicode builds, whose unit is one code point. */
#ifndef MORAVEL_UNICODE
#define MORAVEL_UNICODE 1
#endif

/* Exactly one platform layer is compiled in. */
#if defined(MORAVEL_PLATFORM_WINDOWS)
#define MORAVEL_MAC 0
#elif defined(MORAVEL_PLATFORM_MAC)
#define MORAVEL_MAC 1
#else
#ifndef MORAVEL_PLATFORM_POSIX
#define MORAVEL_PLATFORM_POSIX 1
#endif
#define MORAVEL_MAC 0
#endif

typedef int8_t qbyte;
typedef uint8_t qbool;
typedef int16_t qshort;
typedef int32_t qlong;
typedef uint32_t qulong;

#if MORAVEL_UNICODE
typedef uint32_t qchar;
typedef uint16_t oschar;
#else
typedef uint8_t qchar;
#endif

/* The value a host keeps under an atom: 32 bits in a 32-bit build, widened to
   hold an address in a 64-bit build. */
typedef uintptr_t qatomval;

/* Result codes of the library's functions, which the platform's file steps
   answer too. */
enum { kErrNone = 0, kErrMemory = 2, kErrParams = 3, kErrOpen = 4, kErrRead = 5 };

#define QCHAR_SIZE ((qlong)sizeof(qchar))
/* Every buffer carries two units of slack after its size for a terminator. */
#define QSLACK (2 * QCHAR_SIZE)

#if defined(_WIN32)
#define MORAVEL_EXPORT __declspec(dllexport)
#define MORAVEL_WINAPI __stdcall
#else
#define MORAVEL_EXPORT __attribute__((visibility("default")))
#define MORAVEL_WINAPI
#endif

#endif
