# Cross build of lenticor.exe with clang over Debian's MinGW-w64 (posix
# threads): the same Windows headers, import libraries and libstdc++ as the
# GCC build, a second compiler's warnings on our code, and binutils' linker
# and archiver. Clang cannot find that GCC on its own: Debian names the folder
# of its libraries "12-posix", which clang does not read as a GCC version, so
# the C++ headers, the library folder and crtbegin.o/crtend.o are given here.
#
# GCC pads the type-name strings of its type_info objects, clang does not, so
# the linker reports a "duplicate section ... has different size" for each one
# that libstdc++ and our objects both carry. Both copies hold the same name.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${_triple})
set(CMAKE_CXX_COMPILER_TARGET ${_triple})
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_LINKER ${_triple}-ld)
foreach(_tool AR RANLIB NM OBJCOPY OBJDUMP STRIP DLLTOOL)
    string(TOLOWER ${_tool} _name)
    set(CMAKE_${_tool} ${_triple}-${_name})
endforeach()
# Without a sysroot clang would also search the host's /usr/include.
set(CMAKE_SYSROOT /usr/${_triple})

file(GLOB _gcc_dirs LIST_DIRECTORIES true "/usr/lib/gcc/${_triple}/*-posix")
if(NOT _gcc_dirs)
    message(FATAL_ERROR "no posix-threads MinGW-w64 GCC under /usr/lib/gcc/${_triple}")
endif()
list(SORT _gcc_dirs COMPARE NATURAL ORDER DESCENDING)
list(GET _gcc_dirs 0 _gcc)
set(_cxx "${_gcc}/include/c++")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${_cxx} -isystem ${_cxx}/${_triple} -isystem ${_cxx}/backward")
# libstdc++ of the posix build calls winpthreads, which -pthread links.
foreach(_kind EXE SHARED MODULE)
    set(CMAKE_${_kind}_LINKER_FLAGS_INIT "-fuse-ld=bfd -B${_gcc} -L${_gcc} -pthread")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
