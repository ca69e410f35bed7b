# Compiler and linker settings shared by every target.
#
# Images must come out bit-identical from the DLL and from the native build, so arithmetic is
# plain IEEE double everywhere: SSE2 on i686 (no x87 excess precision), no contraction into
# fused multiply-adds, no fast-math.

# Warnings fail the build (the code is kept warning-free in all three builds), so a new one is
# dealt with when it appears rather than piling up.
option(NYRA_WERROR "Treat compiler warnings as errors" ON)

function(nyra_target_flags target)
  if(NYRA_WERROR)
    target_compile_options(${target} PRIVATE $<IF:$<BOOL:${MSVC}>,/WX,-Werror>)
  endif()
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /fp:precise /utf-8)
    target_compile_definitions(${target} PRIVATE _CRT_SECURE_NO_WARNINGS NOMINMAX WIN32_LEAN_AND_MEAN)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -ffp-contract=off -fno-fast-math)
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86|i[3-6]86)$")
      target_compile_options(${target} PRIVATE -msse2 -mfpmath=sse)
    endif()
    if(WIN32)
      target_compile_definitions(${target} PRIVATE NOMINMAX WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
    endif()
  endif()
  if(NYRA_SANITIZE AND NOT WIN32)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(NYRA_TSAN AND NOT WIN32)
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=thread)
  endif()
endfunction()

# Everything a program or DLL of ours needs at run time is linked in, so Wine (and a host)
# finds no libstdc++, libgcc or winpthread DLL to pick up from elsewhere.
function(nyra_static_runtime target)
  if(WIN32 AND NOT MSVC)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()

function(nyra_plugin_link_flags target)
  nyra_static_runtime(${target})
  if(NOT MSVC)
    # Undecorated names from the .def file without a warning per export.
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
endfunction()

if(MSVC)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
endif()
