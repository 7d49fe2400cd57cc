# Build helpers shared by every directory: warnings, sanitizers, test and fuzzer registration.

set(ORVALINK_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wno-missing-field-initializers)
if(ORVALINK_WERROR)
    list(APPEND ORVALINK_WARNINGS -Werror)
endif()

if(ORVALINK_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(ORVALINK_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT ORVALINK_SANITIZE STREQUAL "")
    message(FATAL_ERROR "ORVALINK_SANITIZE must be empty, 'address' or 'thread'")
endif()
if(ORVALINK_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# A library of plain C++ (no Qt). Such code is built and tested in every configuration.
function(orvalink_std_library name)
    add_library(${name} STATIC ${ARGN})
    target_compile_options(${name} PRIVATE ${ORVALINK_WARNINGS})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    set_target_properties(${name} PROPERTIES AUTOMOC OFF AUTOUIC OFF AUTORCC OFF)
endfunction()

# A library over Qt; skipped in std-only builds by the caller's directory.
function(orvalink_qt_library name)
    add_library(${name} STATIC ${ARGN})
    target_compile_options(${name} PRIVATE ${ORVALINK_WARNINGS})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
endfunction()

# orvalink_test(NAME name SOURCES ... LIBS ... [QT] [NETNS] [SERIAL] [TIMEOUT s])
#   QT     the test's main creates a QApplication (offscreen platform)
#   NETNS  the test's main moves the process into a private network namespace first; without
#          root the tests that need it skip with a line saying why
#   SERIAL each test runs alone (floods that measure memory and GUI gaps)
function(orvalink_test)
    cmake_parse_arguments(T "QT;NETNS;SERIAL" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(T_QT AND ORVALINK_STD_ONLY)
        return()
    endif()
    add_executable(${T_NAME} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp
                             ${PROJECT_SOURCE_DIR}/tests/support/PrivateNetwork.cpp)
    target_compile_options(${T_NAME} PRIVATE ${ORVALINK_WARNINGS})
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest)
    if(T_QT)
        target_compile_definitions(${T_NAME} PRIVATE ORVALINK_TEST_QT=1)
        target_link_libraries(${T_NAME} PRIVATE Qt6::Widgets Qt6::Test)
    endif()
    if(T_NETNS)
        target_compile_definitions(${T_NAME} PRIVATE ORVALINK_TEST_NETNS=1)
    endif()
    # Where the test finds the programs it drives (the environment may override it).
    target_compile_definitions(${T_NAME} PRIVATE ORVALINK_BUILD_DIR_DEFAULT="${PROJECT_BINARY_DIR}"
                                                 ORVALINK_SOURCE_DIR_DEFAULT="${PROJECT_SOURCE_DIR}")
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set(serial FALSE)
    if(T_SERIAL)
        set(serial TRUE)
    endif()
    gtest_discover_tests(${T_NAME} TEST_PREFIX "${T_NAME}." DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT ${T_TIMEOUT} RUN_SERIAL ${serial})
endfunction()

# orvalink_fuzzer(NAME name SOURCES ... LIBS ... CORPUS dir)
# The target source defines LLVMFuzzerTestOneInput. Every build makes a replay program that feeds
# each file of the corpus (seeds and the crash inputs kept as regressions) through it as a test;
# with ORVALINK_FUZZ (clang) it also makes the libFuzzer program NAME_fuzz.
function(orvalink_fuzzer)
    cmake_parse_arguments(F "" "NAME;CORPUS" "SOURCES;LIBS" ${ARGN})
    add_executable(${F_NAME}_replay ${F_SOURCES} ${PROJECT_SOURCE_DIR}/tests/fuzz/ReplayMain.cpp)
    target_compile_options(${F_NAME}_replay PRIVATE ${ORVALINK_WARNINGS})
    target_include_directories(${F_NAME}_replay PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${F_NAME}_replay PRIVATE ${F_LIBS})
    add_test(NAME ${F_NAME}.replay COMMAND ${F_NAME}_replay ${F_CORPUS})
    if(ORVALINK_FUZZ)
        add_executable(${F_NAME}_fuzz ${F_SOURCES})
        target_compile_options(${F_NAME}_fuzz PRIVATE -fsanitize=fuzzer)
        target_link_options(${F_NAME}_fuzz PRIVATE -fsanitize=fuzzer)
        target_include_directories(${F_NAME}_fuzz PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
        target_link_libraries(${F_NAME}_fuzz PRIVATE ${F_LIBS})
    endif()
endfunction()
