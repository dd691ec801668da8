// thread.h: what a Windows DLL finds in the thread that runs it, given to
// this Linux thread (test equipment): a thread environment block reached
// through fs, the x87 control word Windows starts threads with, and the
// thread's last-error value.
#pragma once

#include <cstdint>

namespace peloader {

// The calling convention of the system DLLs' functions, and of the stand-ins
// that take their place. The DLL keeps only 4-byte stack alignment, so each
// stand-in realigns the stack for the Linux code it runs.
#define PE_WINAPI __attribute__((stdcall, force_align_arg_pointer))
// The C runtime's functions: the caller removes the arguments.
#define PE_CDECL __attribute__((cdecl, force_align_arg_pointer))

// Gives this thread a thread environment block and the x87 control word
// 0x27F, once; later calls do nothing. Throws when the system refuses.
void enterWindowsThread();

// The thread's last-error value, kept where Windows keeps it (the block's
// offset 0x34), so that the DLL may read it there too.
std::uint32_t lastError();
void setLastError(std::uint32_t code);

// The block's implicit thread-local storage array: slot `index` for a DLL
// whose TLS directory asks for one. Returns the slot number it was given.
std::uint32_t allocateTlsSlot(void* block);
void freeTlsSlot(std::uint32_t index);
// The 64 slots of TlsGetValue and TlsSetValue.
void** tlsSlots();

// A function the host calls as a C function, which calls `stdcallTarget`
// with the same six 32-bit arguments under the Windows API convention and
// checks that the callee removed exactly those 24 bytes (a fault stops the
// process at once). Freed with freeCallThunk.
void* makeCallThunk(void* stdcallTarget);
void freeCallThunk(void* thunk);

}  // namespace peloader
