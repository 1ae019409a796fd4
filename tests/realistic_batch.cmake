# A generated realistic batch of about 3 MB through a -p run: in the checked
# builds (sanitizers, the standard library's debug containers) a fault that
# the small hand-written batches never reach ends this run.
# cmake -DBATCHGEN=... -DTAVRIN=... -DWORK=... -P realistic_batch.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/out)
execute_process(COMMAND ${BATCHGEN} --shape realistic --size 3M ${WORK}/in
                RESULT_VARIABLE generated OUTPUT_QUIET)
if(NOT generated EQUAL 0)
  message(FATAL_ERROR "tavrin_batchgen failed: ${generated}")
endif()
execute_process(COMMAND ${TAVRIN} -p -i ${WORK}/in -o ${WORK}/out
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "tavrin -p ended with ${result}:\n${errors}")
endif()
file(GLOB scripts ${WORK}/out/*.tvr)
list(LENGTH scripts count)
if(count LESS 10)
  message(FATAL_ERROR "only ${count} scripts written")
endif()
file(REMOVE_RECURSE ${WORK})
