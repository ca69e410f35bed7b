# Native 32-bit Linux build (g++ -m32, from Debian's g++-multilib), for `make bench-m32`: the
# product's i686 code, with the same compiler, flags and vector paths as the plug-in, timed on
# a machine that runs 32-bit programs but not 32-bit Windows ones.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
