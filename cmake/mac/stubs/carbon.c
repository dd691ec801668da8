/* carbon.c: the Carbon functions the bundle imports, as a stub library to
   link against; the bundle binds them by name in the system's Carbon. Build
   equipment: never shipped, never run. */
#define STUB(name) \
  void name(void);  \
  void name(void) {}

STUB(NewPtrClear)
STUB(DisposePtr)
STUB(GetPtrSize)
STUB(HOpen)
STUB(PBGetEOFSync)
STUB(SetFPos)
STUB(PBReadSync)
STUB(PBCloseSync)
STUB(GetIndString)
STUB(CreateTextEncoding)
STUB(TECCreateConverter)
STUB(TECConvertText)
STUB(TECFlushText)
STUB(x80tod)
STUB(dtox80)
STUB(SysBeep)
