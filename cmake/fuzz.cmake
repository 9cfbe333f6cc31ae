# The fuzz targets of tests/fuzz/, each a LLVMFuzzerTestOneInput over the
# program's own code (no copy of it). Two ways to build them:
# - QUORVEL_FUZZ (make fuzz, its own build directory, clang): libFuzzer
#   executables fuzz_<name>, with AddressSanitizer and UBSan;
# - otherwise: fuzz_replay_<name>, the same target under a small main that
#   runs every file of tests/fuzz/corpus/<name>/ through it, one test each,
#   so that the corpus is a regression suite (and, in the sanitizer build,
#   runs with its checks).
set(QV_FUZZ_DIR ${CMAKE_SOURCE_DIR}/tests/fuzz)

function(quorvel_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  if(QUORVEL_FUZZ)
    set(target fuzz_${name})
    add_executable(${target} ${QV_FUZZ_DIR}/${name}.cpp ${F_SOURCES})
    target_link_options(${target} PRIVATE -fsanitize=fuzzer,address,undefined)
  else()
    set(target fuzz_replay_${name})
    add_executable(${target} ${QV_FUZZ_DIR}/${name}.cpp ${QV_FUZZ_DIR}/replay_main.cpp ${F_SOURCES})
    add_test(NAME fuzz_${name} COMMAND ${target} ${QV_FUZZ_DIR}/corpus/${name})
    set_tests_properties(fuzz_${name} PROPERTIES TIMEOUT 300)
  endif()
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${QV_FUZZ_DIR})
  target_link_libraries(${target} PRIVATE ${F_LIBS})
endfunction()

quorvel_fuzz(settings LIBS quorvel_core)
quorvel_fuzz(frame SOURCES ${CMAKE_SOURCE_DIR}/cli/framefile.cpp LIBS quorvel_core Qt6::Gui)
quorvel_fuzz(measure LIBS quorvel_core)
quorvel_fuzz(server LIBS quorvel_qt)
quorvel_fuzz(fits LIBS quorvel_core)
quorvel_fuzz(sky LIBS quorvel_core)
quorvel_fuzz(guidelog LIBS quorvel_core)
quorvel_fuzz(plot LIBS quorvel_plot)
quorvel_fuzz(calibfile LIBS quorvel_core)
