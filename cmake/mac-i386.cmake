# Cross build of the Mac bundle for i386 Mac OS X 10.6 and later: Debian's
# clang for the target and lld-13's Mach-O linker, without a Mac SDK. The C
# functions the plug-in calls are declared by cmake/mac/include; the bundle
# links against stub Carbon and libSystem libraries made in the build
# (cmake/mac/bundle.cmake). No C++ runtime: no exceptions, RTTI, unwind
# tables or stack protector.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR i386)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET i386-apple-macosx10.6)
set(CMAKE_CXX_COMPILER_TARGET i386-apple-macosx10.6)
set(CMAKE_OSX_SYSROOT "")
set(CMAKE_OSX_ARCHITECTURES "")
set(CMAKE_OSX_DEPLOYMENT_TARGET "")
# Nothing can be linked before the stubs exist.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(MORAVEL_MAC_LINKER /usr/lib/llvm-13/bin/ld64.lld.darwinold CACHE FILEPATH "The linker that writes i386 Mach-O")
execute_process(COMMAND clang -print-resource-dir OUTPUT_VARIABLE clang_resources OUTPUT_STRIP_TRAILING_WHITESPACE)
set(flags "-nostdinc -isystem ${clang_resources}/include -isystem ${CMAKE_CURRENT_LIST_DIR}/mac/include")
string(APPEND flags " -fno-stack-protector -fno-asynchronous-unwind-tables -fno-unwind-tables")
set(CMAKE_C_FLAGS_INIT "${flags}")
set(CMAKE_CXX_FLAGS_INIT "${flags} -nostdinc++")
