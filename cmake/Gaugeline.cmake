# Shared build settings and the helpers every folder uses.
#   gaugeline_library(NAME SOURCES ... [LIBS ...])   portable or Windows static library
#   gaugeline_test(NAME SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [SIM] [NO_DISCOVER])
#     A GoogleTest program. Native: discovered per case. Windows: run under Wine
#     through the emulator; SIM installs the simulated driver into the prefix first.

if(WIN32)
    set(GAUGELINE_WINDOWS ON)
    add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
    add_link_options(-static -static-libgcc -static-libstdc++)
    set(GAUGELINE_WINE_RUN ${PROJECT_SOURCE_DIR}/tests/wine/wine-run)
    set(GAUGELINE_WINEPREFIX ${PROJECT_BINARY_DIR}/wineprefix)
    # The simulated driver DLLs land here; tests install them into the prefix.
    set(GAUGELINE_SIM_DIR ${PROJECT_BINARY_DIR}/sim)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${GAUGELINE_WINE_RUN} --prefix ${GAUGELINE_WINEPREFIX})
    if(BUILD_TESTING)
        # Every Windows test needs the prefix; the wrapper makes it on demand
        # too, this fixture makes it once before the first test.
        add_test(NAME wine_prefix COMMAND ${PROJECT_SOURCE_DIR}/tests/wine/make-prefix ${GAUGELINE_WINEPREFIX})
        set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix LABELS "windows" TIMEOUT 300)
    endif()
else()
    set(GAUGELINE_WINDOWS OFF)
    # The simulated libnvidia-ml.so.1 lands here (alone): LD_LIBRARY_PATH for tests.
    set(GAUGELINE_SIM_LINUX_DIR ${PROJECT_BINARY_DIR}/sim/linux)
endif()

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    add_compile_options(-Wall -Wextra -Wno-unused-parameter)
endif()

# GoogleTest: the installed package natively, built from Debian's sources for Windows.
if(BUILD_TESTING)
    if(GAUGELINE_WINDOWS)
        set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
        if(NOT TARGET GTest::gtest_main)
            add_library(GTest::gtest ALIAS gtest)
            add_library(GTest::gtest_main ALIAS gtest_main)
            add_library(GTest::gmock ALIAS gmock)
        endif()
    else()
        find_package(GTest REQUIRED)
    endif()
    include(GoogleTest)
endif()

function(gaugeline_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    if(ARG_LIBS)
        target_link_libraries(${name} PUBLIC ${ARG_LIBS})
    endif()
endfunction()

function(gaugeline_test name)
    cmake_parse_arguments(ARG "SIM;NO_DISCOVER" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    if(NOT BUILD_TESTING)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set(labels ${ARG_LABELS})
    if(GAUGELINE_WINDOWS)
        list(APPEND labels windows)
        set(emulator ${GAUGELINE_WINE_RUN} --prefix ${GAUGELINE_WINEPREFIX})
        if(ARG_SIM)
            list(APPEND emulator --install ${GAUGELINE_SIM_DIR})
            add_dependencies(${name} gaugeline_sim_dlls)
        endif()
        set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${emulator}")
    else()
        list(APPEND labels native)
    endif()
    if(ARG_NO_DISCOVER)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${ARG_TIMEOUT})
        if(GAUGELINE_WINDOWS)
            set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix)
        endif()
    else()
        set(fixture "")
        if(GAUGELINE_WINDOWS)
            set(fixture FIXTURES_REQUIRED wine_prefix)
        endif()
        # Discovered tests take their properties through a flat list, which
        # cannot hold a list value: join the labels into one. ctest -L matches
        # labels as regular expressions, so -L concurrency still finds them.
        string(REPLACE ";" "-" discovered_labels "${labels}")
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
            PROPERTIES LABELS "${discovered_labels}" TIMEOUT ${ARG_TIMEOUT} ${fixture})
    endif()
endfunction()

# Wine reads a PE image whole into private memory, debug sections and all: the
# debug information of a shipped program or driver DLL moves to NAME.debug
# beside it (found again through .gnu_debuglink), so only code and data load.
function(gaugeline_split_debug_info target)
    if(NOT GAUGELINE_WINDOWS OR NOT CMAKE_OBJCOPY)
        return()
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>.debug
        COMMAND ${CMAKE_OBJCOPY} --strip-debug --add-gnu-debuglink=$<TARGET_FILE:${target}>.debug
                $<TARGET_FILE:${target}>
        VERBATIM)
endfunction()
