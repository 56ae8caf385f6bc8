# halyard_add_fuzzer(<name> SOURCES ... [LIBS ...])
# A libFuzzer executable fuzz_<name>. The driver code it calls is built with
# coverage instrumentation too (fuzzer-no-link), so the fuzzer sees inside it.
# Configure line: see scripts/fuzz.sh.
include_guard(GLOBAL)

if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "HALYARD_BUILD_FUZZ needs clang (libFuzzer): -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
endif()
if(NOT HALYARD_SANITIZE)
  message(WARNING "HALYARD_BUILD_FUZZ without HALYARD_SANITIZE=address,undefined finds crashes only")
endif()
get_property(halyard_layers GLOBAL PROPERTY HALYARD_LAYER_TARGETS)
foreach(layer ${halyard_layers})
  target_compile_options(${layer} PRIVATE -fsanitize=fuzzer-no-link)
endforeach()

function(halyard_add_fuzzer name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(fuzz_${name} ${F_SOURCES})
  target_include_directories(fuzz_${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(fuzz_${name} PRIVATE halyard_core ${F_LIBS})
endfunction()
