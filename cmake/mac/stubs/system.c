/* system.c: the libSystem functions the bundle imports, as a stub library
   to link against, with the lazy binder every image names. Build equipment:
   never shipped, never run. */
#define STUB(name) \
  void name(void);  \
  void name(void) {}

STUB(memcpy)
STUB(memmove)
STUB(__bzero)
STUB(strlen)
STUB(wcslen)
STUB(wcschr)
STUB(wmemchr)
STUB(malloc)
STUB(free)

/* The binder is written in assembly in the system, without the C prefix. */
void StubBinder(void) __asm__("dyld_stub_binder");
void StubBinder(void) {}
