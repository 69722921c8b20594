# Cross build of the whole program for 64-bit Windows: the compilers and Wine
# of mingw-w64-x86_64.cmake, plus the Windows trees named in CMAKE_PREFIX_PATH
# (our MinGW build of Qt, GoogleTest) as places where packages may be found.
# scripts/windows-full.sh passes both:
#   cmake -S . -B build-windows-full \
#     -DCMAKE_TOOLCHAIN_FILE=windows/mingw-w64-x86_64-qt.cmake \
#     -DCMAKE_PREFIX_PATH="<Qt prefix>;<GoogleTest prefix>"
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)

# Packages are looked for only below the roots (mode ONLY), so that Debian's
# own Linux Qt can never be picked up: each Windows tree is a root of its own.
foreach(qb_prefix IN LISTS CMAKE_PREFIX_PATH)
  list(APPEND CMAKE_FIND_ROOT_PATH ${qb_prefix})
endforeach()
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)
