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
# so that each file shows which libraries it uses; tests/layering checks that it uses only those it
# declares.
target_include_directories(decimora_options INTERFACE ${PROJECT_SOURCE_DIR}/src)

# decimora_add_module(<name> SOURCES ... PUBLIC_DEPS ... PRIVATE_DEPS ...): one static library of the
# program. PUBLIC_DEPS are the libraries its headers include, PRIVATE_DEPS those only its sources do.
function(decimora_add_module name)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_DEPS;PRIVATE_DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_link_libraries(${name} PUBLIC decimora_options ${ARG_PUBLIC_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# decimora_add_test(<name> SOURCES ... DEPS ... [COST n]): one GoogleTest executable, discovered by
# CTest. COST starts its tests before those without one: a fresh machine has no timings of earlier runs,
# and a test of minutes started last keeps one core idle at the end of the run.
function(decimora_add_test name)
    cmake_parse_arguments(ARG "" "COST" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE decimora_test_main ${ARG_DEPS})
    set(properties ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
    if(ARG_COST)
        list(APPEND properties COST ${ARG_COST})
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
endfunction()
