// A probe plug-in for testing the host on its own: its entry point hands every
// message, with the host's request function, to an action the test installs.
#include <cstdint>

extern "C" {

typedef short (*HostCallback)(int code, ...);
typedef void (*ProbeAction)(short md, void** ref, HostCallback callback, void* context);

static ProbeAction gAction = nullptr;
static void* gContext = nullptr;

__attribute__((visibility("default"))) void ProbeSetAction(ProbeAction action, void* context) {
  gAction = action;
  gContext = context;
}

__attribute__((visibility("default"))) void Moravel(short md, void** ref, void*, void*, void*,
                                                    HostCallback callback) {
  if (gAction) gAction(md, ref, callback, gContext);
}

}  // extern "C"
