// thread.cpp: the thread environment block through an LDT entry, the x87
// control word, and the thunk by which C code calls a Windows API entry.
#include "thread.h"

#include <asm/ldt.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace peloader {

namespace {

// Offsets in the thread environment block.
constexpr std::size_t kExceptionList = 0x00, kStackBase = 0x04, kStackLimit = 0x08, kSelf = 0x18,
                      kProcessId = 0x20, kThreadId = 0x24, kTlsPointer = 0x2C, kPeb = 0x30,
                      kLastError = 0x34, kTlsSlots = 0xE10;
constexpr std::size_t kTebSize = 0x1000;
constexpr unsigned kLdtEntry = 1;
constexpr std::uint32_t kTlsArraySlots = 64;

std::uint8_t* gTeb = nullptr;
void* gTlsArray[kTlsArraySlots];
bool gTlsUsed[kTlsArraySlots];

template <typename T>
void put(std::size_t offset, T value)
{
  std::memcpy(gTeb + offset, &value, sizeof value);
}

std::uint32_t address(const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); }

}  // namespace

void enterWindowsThread()
{
  if (gTeb) return;
  alignas(4096) static std::uint8_t peb[kTebSize];
  void* block = mmap(nullptr, kTebSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) throw std::runtime_error("no memory for the thread environment block");
  auto* teb = static_cast<std::uint8_t*>(block);
  pthread_attr_t attr;
  void* stack = nullptr;
  std::size_t stackSize = 0;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstack(&attr, &stack, &stackSize);
    pthread_attr_destroy(&attr);
  }
  user_desc desc{};
  desc.entry_number = kLdtEntry;
  desc.base_addr = address(teb);
  desc.limit = kTebSize - 1;
  desc.seg_32bit = 1;
  desc.useable = 1;
  if (syscall(SYS_modify_ldt, 1, &desc, sizeof desc) != 0) {
    munmap(block, kTebSize);
    throw std::runtime_error("the system gives no LDT entry for the thread environment block");
  }
  gTeb = teb;
  put<std::uint32_t>(kExceptionList, 0xFFFFFFFFu);  // no exception handler registered
  put<std::uint32_t>(kStackBase, address(static_cast<std::uint8_t*>(stack) + stackSize));
  put<std::uint32_t>(kStackLimit, address(stack));
  put<std::uint32_t>(kSelf, address(teb));
  put<std::uint32_t>(kProcessId, static_cast<std::uint32_t>(getpid()));
  put<std::uint32_t>(kThreadId, static_cast<std::uint32_t>(syscall(SYS_gettid)));
  put<std::uint32_t>(kTlsPointer, address(gTlsArray));
  put<std::uint32_t>(kPeb, address(peb));
  std::uint16_t selector = static_cast<std::uint16_t>(kLdtEntry << 3 | 4 | 3);  // LDT, ring 3
  asm volatile("movw %w0, %%fs" : : "q"(selector));
  std::uint16_t control = 0x27F;  // 53-bit precision, round to nearest, all exceptions masked
  asm volatile("fldcw %0" : : "m"(control));
}

std::uint32_t lastError()
{
  std::uint32_t v;
  std::memcpy(&v, gTeb + kLastError, sizeof v);
  return v;
}

void setLastError(std::uint32_t code) { put(kLastError, code); }

std::uint32_t allocateTlsSlot(void* block)
{
  for (std::uint32_t i = 0; i < kTlsArraySlots; ++i)
    if (!gTlsUsed[i]) {
      gTlsUsed[i] = true;
      gTlsArray[i] = block;
      return i;
    }
  throw std::runtime_error("no thread-local storage slot left");
}

void freeTlsSlot(std::uint32_t index)
{
  gTlsUsed[index] = false;
  gTlsArray[index] = nullptr;
}

void** tlsSlots() { return reinterpret_cast<void**>(gTeb + kTlsSlots); }

void* makeCallThunk(void* stdcallTarget)
{
  static const std::uint8_t kHead[] = {
      0x55,              // push ebp
      0x89, 0xE5,        // mov ebp, esp
      0xFF, 0x75, 0x1C,  // push dword [ebp+28]  (the sixth argument)
      0xFF, 0x75, 0x18,  // push dword [ebp+24]
      0xFF, 0x75, 0x14,  // push dword [ebp+20]
      0xFF, 0x75, 0x10,  // push dword [ebp+16]
      0xFF, 0x75, 0x0C,  // push dword [ebp+12]
      0xFF, 0x75, 0x08,  // push dword [ebp+8]   (the first)
      0xB8,              // mov eax, imm32 (the target follows)
  };
  static const std::uint8_t kTail[] = {
      0xFF, 0xD0,  // call eax
      0x39, 0xEC,  // cmp esp, ebp: the callee removed its 24 bytes
      0x74, 0x02,  // je +2
      0x0F, 0x0B,  // ud2
      0xC9,        // leave
      0xC3,        // ret
  };
  long page = sysconf(_SC_PAGESIZE);
  void* p = mmap(nullptr, static_cast<std::size_t>(page), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::runtime_error("no memory for a call thunk");
  auto* code = static_cast<std::uint8_t*>(p);
  std::uint32_t target = address(stdcallTarget);
  std::memcpy(code, kHead, sizeof kHead);
  std::memcpy(code + sizeof kHead, &target, sizeof target);
  std::memcpy(code + sizeof kHead + sizeof target, kTail, sizeof kTail);
  if (mprotect(p, static_cast<std::size_t>(page), PROT_READ | PROT_EXEC) != 0)
    throw std::runtime_error("a call thunk cannot be made executable");
  return p;
}

void freeCallThunk(void* thunk) { munmap(thunk, static_cast<std::size_t>(sysconf(_SC_PAGESIZE))); }

}  // namespace peloader
