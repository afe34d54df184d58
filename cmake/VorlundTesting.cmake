include(GoogleTest)

set(VORLUND_SANITIZER_OPTIONS_SRC ${CMAKE_CURRENT_LIST_DIR}/sanitizer_options.cpp)
set(VORLUND_FUZZ_REPLAY_SRC ${CMAKE_CURRENT_LIST_DIR}/fuzz_replay_main.cpp)

# vorlund_add_test(NAME n SOURCES ... [LIBS ...] [LABELS ...] [ENVIRONMENT ...] [NO_MAIN] [TIMEOUT s])
# A GoogleTest binary whose cases ctest lists one by one. Not built in fuzz builds.
function(vorlund_add_test)
    cmake_parse_arguments(T "NO_MAIN" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
    if(VORLUND_FUZZ)
        return()
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${T_NAME} ${T_SOURCES} ${VORLUND_SANITIZER_OPTIONS_SRC})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Threads::Threads
        vorlund_options vorlund_warnings)
    if(NOT T_NO_MAIN)
        target_link_libraries(${T_NAME} PRIVATE GTest::gtest_main)
    endif()
    set(_labels ${T_LABELS})
    if(VORLUND_SANITIZE)
        list(APPEND _labels ${VORLUND_SANITIZE})
    endif()
    gtest_discover_tests(${T_NAME}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS "${_labels}" TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${T_ENVIRONMENT}")
endfunction()

# vorlund_add_fuzzer(NAME n SOURCES ... [LIBS ...] [CORPUS dir])
# With VORLUND_FUZZ: a libFuzzer binary that ctest runs for a few seconds.
# Otherwise: the same entry point linked to a replay main that runs the seed corpus.
function(vorlund_add_fuzzer)
    cmake_parse_arguments(F "" "NAME;CORPUS" "SOURCES;LIBS" ${ARGN})
    if(VORLUND_SANITIZE STREQUAL "thread")
        return()
    endif()
    if(VORLUND_FUZZ)
        add_executable(${F_NAME} ${F_SOURCES} ${VORLUND_SANITIZER_OPTIONS_SRC})
        target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
        set(_work ${CMAKE_CURRENT_BINARY_DIR}/${F_NAME}_corpus)
        file(MAKE_DIRECTORY ${_work})
        set(_args -max_total_time=5 -timeout=10 -rss_limit_mb=2048 ${_work})
        if(F_CORPUS)
            list(APPEND _args ${F_CORPUS})
        endif()
        add_test(NAME ${F_NAME} COMMAND ${F_NAME} ${_args})
        set_tests_properties(${F_NAME} PROPERTIES LABELS fuzz TIMEOUT 120)
    else()
        add_executable(${F_NAME} ${F_SOURCES} ${VORLUND_FUZZ_REPLAY_SRC} ${VORLUND_SANITIZER_OPTIONS_SRC})
        add_test(NAME ${F_NAME}_replay COMMAND ${F_NAME} ${F_CORPUS})
        set_tests_properties(${F_NAME}_replay PROPERTIES LABELS fuzz-replay TIMEOUT 120)
    endif()
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} vorlund_options vorlund_warnings)
endfunction()

# vorlund_add_bench(NAME n SOURCES ... [LIBS ...]): a Google Benchmark program, run by hand.
function(vorlund_add_bench)
    cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
    if(NOT VORLUND_BUILD_BENCH)
        return()
    endif()
    find_package(benchmark REQUIRED)
    add_executable(${B_NAME} ${B_SOURCES})
    target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads
        vorlund_options vorlund_warnings)
endfunction()
