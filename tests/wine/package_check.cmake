# Checks the Windows package as an operator receives it: makes the zip,
# unpacks it into a fresh folder, looks at what tavrin.exe imports, and runs
# it there under Wine: the full usage, and a -p run over the example batch
# that came in the zip.
#   cmake -DBUILD_DIR=<build> -DWORK_DIR=<scratch> -DOBJDUMP=<objdump>
#         -DWINE_LOADER=<wine64> -DWINEPREFIX=<prefix>
#         -DGOLDEN_DIR=<the example batch's scripts> -P package_check.cmake

function(fail message)
  message(FATAL_ERROR "${message}")
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/package ${WORK_DIR}/unpacked)
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} --config ${BUILD_DIR}/CPackConfig.cmake
                        -B ${WORK_DIR}/package
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT (result EQUAL 0))
  fail("cpack failed:\n${output}")
endif()
file(GLOB zips ${WORK_DIR}/package/tavrin-*-win64.zip)
list(LENGTH zips count)
if(NOT (count EQUAL 1))
  fail("expected one tavrin-<version>-win64.zip, found: ${zips}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zips} WORKING_DIRECTORY ${WORK_DIR}/unpacked
                RESULT_VARIABLE result)
if(NOT (result EQUAL 0))
  fail("cannot unpack ${zips}")
endif()
get_filename_component(top ${zips} NAME_WLE)
set(root ${WORK_DIR}/unpacked/${top})
foreach(file tavrin.exe README.md docs/design.md docs/script-rules.md docs/testing.md
             docs/benchmarks.md examples/batch/a.sql examples/batch/b.sql examples/batch/c.sql)
  if(NOT (EXISTS ${root}/${file}))
    fail("the zip holds no ${top}/${file}")
  endif()
endforeach()

# Only DLLs that every Windows system has.
execute_process(COMMAND ${OBJDUMP} -p ${root}/tavrin.exe OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT (result EQUAL 0))
  fail("${OBJDUMP} cannot read tavrin.exe")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT (imports))
  fail("tavrin.exe imports nothing?")
endif()
foreach(line ${imports})
  string(REPLACE "DLL Name: " "" dll "${line}")
  string(TOUPPER "${dll}" dll)
  if(NOT (dll MATCHES "^(KERNEL32|MSVCRT|VERSION|ADVAPI32)\\.DLL$"))
    fail("tavrin.exe imports ${dll}, which not every Windows system has")
  endif()
endforeach()

set(ENV{WINEPREFIX} ${WINEPREFIX})
set(ENV{WINEDEBUG} -all)
execute_process(COMMAND ${WINE_LOADER} ${root}/tavrin.exe -h WORKING_DIRECTORY ${root}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT (result EQUAL 0))
  fail("tavrin.exe -h ended with ${result}:\n${out}${err}")
endif()
if(NOT (err MATCHES "Group and Parse SQL log files"))
  fail("tavrin.exe -h shows no usage:\n${err}")
endif()

file(MAKE_DIRECTORY ${root}/out)
execute_process(COMMAND ${WINE_LOADER} ${root}/tavrin.exe -p -i examples\\batch -o out
                WORKING_DIRECTORY ${root} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT (result EQUAL 0))
  fail("tavrin.exe -p ended with ${result}:\n${out}${err}")
endif()
foreach(script Output1.tvr Output2.tvr)
  file(READ ${root}/out/${script} bytes)
  file(READ ${GOLDEN_DIR}/${script} expected)
  if(NOT bytes STREQUAL expected)
    fail("out/${script} differs from ${GOLDEN_DIR}/${script}")
  endif()
endforeach()
