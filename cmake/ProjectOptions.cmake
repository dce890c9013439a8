# Warnings and sanitizers shared by every target of the project.
add_library(decimora_options INTERFACE)
target_compile_options(decimora_options INTERFACE -Wall -Wextra -Wpedantic)
if(DECIMORA_WERROR)
    target_compile_options(decimora_options INTERFACE -Werror)
endif()
if(DECIMORA_SANITIZE)
    target_compile_options(decimora_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                      -fno-sanitize-recover=undefined)
    target_link_options(decimora_options INTERFACE -fsanitize=address,undefined)
endif()

if(DECIMORA_FUZZ)
    # Every library is instrumented for coverage; only the fuzz targets link libFuzzer's main.
    target_compile_options(decimora_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                                                      -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(decimora_options INTERFACE -fsanitize=address,undefined)
endif()
if(DECIMORA_TSAN)
    target_compile_options(decimora_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(decimora_options INTERFACE -fsanitize=thread)
endif()

# Every header of the program is included by its library's folder from one root, "core/systemvar.h",
# so that each file shows which libraries it uses.
target_include_directories(decimora_options INTERFACE ${PROJECT_SOURCE_DIR}/src)

# decimora_add_module(<name> SOURCES ... DEPS ...): one static library of the program.
function(decimora_add_module name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_link_libraries(${name} PUBLIC decimora_options ${ARG_DEPS})
endfunction()

# decimora_add_test(<name> SOURCES ... DEPS ...): one GoogleTest executable, discovered by CTest.
function(decimora_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE decimora_test_main ${ARG_DEPS})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
