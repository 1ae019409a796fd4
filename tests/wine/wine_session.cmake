# Starts or stops the Wine session of a test run:
#   cmake -DACTION=start|stop -DWINEPREFIX=<dir> -DWINE_LOADER=<wine64>
#         -DWINESERVER=<wineserver> -P wine_session.cmake
# start makes the prefix on first use and keeps one wineserver running, so
# that every Windows program of the run starts without waiting for a new
# server; stop ends that server and any Wine process still alive in the prefix.

set(ENV{WINEPREFIX} ${WINEPREFIX})
set(ENV{WINEDEBUG} -all)

if(ACTION STREQUAL "start")
  file(MAKE_DIRECTORY ${WINEPREFIX})
  # The server and the processes Wine keeps running for the prefix outlive
  # this script: they must not hold on to its output, or the test run would
  # wait for them.
  execute_process(COMMAND ${WINESERVER} -p RESULT_VARIABLE result
                  OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "wineserver -p failed: ${result}")
  endif()
  # Makes the prefix on first use, and starts the processes Wine keeps for
  # it here rather than under the first test, whose output they would hold.
  # No .NET or HTML engine: nothing here needs them, and their installers
  # would look for a network and a screen.
  set(ENV{WINEDLLOVERRIDES} "mscoree,mshtml=")
  execute_process(COMMAND ${WINE_LOADER} wineboot --init RESULT_VARIABLE result
                  OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "wineboot --init failed: ${result}")
  endif()
elseif(ACTION STREQUAL "stop")
  execute_process(COMMAND ${WINESERVER} -k)
  execute_process(COMMAND ${WINESERVER} -w)
else()
  message(FATAL_ERROR "ACTION must be start or stop")
endif()
