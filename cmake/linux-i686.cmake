# 32-bit x86 Linux build on an x86_64 machine: the native compilers with -m32
# (GCC's multilib packages, or clang). GoogleTest is then compiled from its
# sources, since the installed libraries are 64-bit. CMAKE_C_FLAGS or
# CMAKE_CXX_FLAGS given on the command line replace these flags: name -m32
# there as well.
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
