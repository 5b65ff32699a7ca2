# Build hardening for the Linux programs: position-independent executables, a read-only GOT
# resolved at start (-z relro -z now), bounds-checked libc calls where the size is known, and
# stack protectors. Windows (MinGW) builds are PE files, where none of the ELF flags apply.
include(CheckPIESupported)

if(NOT WIN32)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  check_pie_supported(LANGUAGES CXX)
  add_compile_options(-fstack-protector-strong)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
  # _FORTIFY_SOURCE needs the optimiser (glibc warns without it) and fights the sanitizers'
  # own interceptors.
  if(NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                        $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
  endif()
endif()

# The shipped programs carry the C++ runtime, so they need only the C library of the machine
# they run on (which stays shared: name lookups load its modules at run time). Windows builds
# link everything statically through the toolchain file already.
option(TRAVO_STATIC_RUNTIME "Link libstdc++ and libgcc into the shipped programs" ON)
set(TRAVO_RUNTIME_LINKED_IN OFF)
if(TRAVO_STATIC_RUNTIME AND NOT WIN32 AND NOT CMAKE_CXX_FLAGS MATCHES "sanitize")
  set(TRAVO_RUNTIME_LINKED_IN ON)
endif()
function(travo_shipped_program target)
  if(TRAVO_RUNTIME_LINKED_IN)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
