# Hardening and reproducibility of what this build makes. Included by the
# top-level CMakeLists.txt before any target is defined, so that every
# object and program of the tree is built alike.
#
# Hardening (QZARC_HARDENING, on by default; in Release builds, the ones
# shipped; the sanitizer trees turn it off, their runtimes doing the
# checking there):
#   Linux    the stack protector (strong), _FORTIFY_SOURCE=3 (2 where the
#            compiler cannot size objects at run time), stack clash
#            protection, CET branch protection on x86, full RELRO with
#            BIND_NOW, a non-executable stack, position-independent programs
#   Windows  ASLR (--dynamicbase, relocations kept; high entropy on 64-bit),
#            DEP (--nxcompat) and the stack protector, whose guard and
#            failure handler come from src/platform/win32_stack_guard.cpp:
#            the compiler's own runtime for it would import ADVAPI32, and
#            QZARC.dll imports nothing beyond KERNEL32, USER32 and msvcrt
#
# Reproducibility (every build type): the source and build directories
# never reach a binary (-ffile-prefix-map), and a PE header carries no link
# time, so that one commit builds to the same bytes wherever and whenever.

option(QZARC_HARDENING "Hardening flags in Release builds" ON)

add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
if(WIN32)
    add_link_options(-Wl,--no-insert-timestamp)
endif()

if(NOT QZARC_HARDENING OR NOT CMAKE_BUILD_TYPE STREQUAL "Release")
    return()
endif()

set(QZARC_X86 FALSE)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86)$")
    set(QZARC_X86 TRUE)
endif()

if(WIN32)
    add_compile_options(-fstack-protector-strong)
    add_link_options(-Wl,--dynamicbase -Wl,--nxcompat)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        add_link_options(-Wl,--high-entropy-va)
    endif()
    # The guard and its failure handler, linked into every program and the
    # DLL; built without the protector itself.
    # (Its object, not a library target: QZARC.dll's exported CMake package
    # must not name a target it does not install.)
    add_library(qzarc_stack_guard OBJECT ${PROJECT_SOURCE_DIR}/src/platform/win32_stack_guard.cpp)
    target_compile_options(qzarc_stack_guard PRIVATE -fno-stack-protector -Wall -Wextra -Werror)
    link_libraries($<TARGET_OBJECTS:qzarc_stack_guard>)
    return()
endif()

include(CheckCXXSourceCompiles)
check_cxx_source_compiles("
    int main(int argc, char **) { char b[4]; return int(__builtin_dynamic_object_size(b + argc, 0)); }"
    QZARC_HAVE_DYNAMIC_OBJECT_SIZE)
if(QZARC_HAVE_DYNAMIC_OBJECT_SIZE)
    set(QZARC_FORTIFY_LEVEL 3)
else()
    set(QZARC_FORTIFY_LEVEL 2)
endif()
add_compile_options(-fstack-protector-strong -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=${QZARC_FORTIFY_LEVEL}
                    -fstack-clash-protection)
if(QZARC_X86)
    add_compile_options(-fcf-protection)
endif()
add_link_options(-Wl,-z,relro -Wl,-z,now -Wl,-z,noexecstack)
# Programs are position-independent executables.
include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
