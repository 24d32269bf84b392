# Regenerates the seed corpus into OUT and compares every file with CORPUS.
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${MAKE_SEEDS} ${OUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "fuzz_make_seeds failed: ${result}")
endif()
file(GLOB_RECURSE made RELATIVE ${OUT} ${OUT}/*)
if(NOT made)
  message(FATAL_ERROR "fuzz_make_seeds wrote nothing")
endif()
foreach(seed IN LISTS made)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUT}/${seed} ${CORPUS}/${seed}
                  RESULT_VARIABLE differs)
  if(differs)
    message(FATAL_ERROR "seed ${seed} differs from the committed corpus; rerun "
                        "fuzz_make_seeds tests/fuzz/corpus and commit")
  endif()
endforeach()
