# Flags travel through INTERFACE targets linked PRIVATE. test.sh turns VORLUND_WERROR on for
# every build it makes (normal, sanitizers, fuzz), so a warning fails CI; a local build keeps
# the ccache entries it shares with the other worktrees.
option(VORLUND_WERROR "Treat compiler warnings as errors" OFF)
add_library(vorlund_warnings INTERFACE)
target_compile_options(vorlund_warnings INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra>
    $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra>
    $<$<BOOL:${VORLUND_WERROR}>:-Werror>)

add_library(vorlund_options INTERFACE)

set(VORLUND_BUILD_GUI ON)
set(VORLUND_BUILD_BENCH ON)
set(VORLUND_BUILD_PLUGIN_MODULES ON)

if(VORLUND_SANITIZE STREQUAL "address")
    set(_san -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
elseif(VORLUND_SANITIZE STREQUAL "thread")
    set(_san -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT VORLUND_SANITIZE STREQUAL "")
    message(FATAL_ERROR "VORLUND_SANITIZE must be empty, address or thread")
endif()
if(_san)
    # Applied to everything we build so that static libraries and tests agree.
    add_compile_options(${_san})
    add_link_options(${_san})
    set(VORLUND_CORE_ONLY ON)
endif()

if(VORLUND_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "VORLUND_FUZZ needs clang (CC=clang CXX=clang++)")
    endif()
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
    set(VORLUND_CORE_ONLY ON)
endif()

if(VORLUND_CORE_ONLY)
    set(VORLUND_BUILD_GUI OFF)
    set(VORLUND_BUILD_BENCH OFF)
    set(VORLUND_BUILD_PLUGIN_MODULES OFF)
endif()
