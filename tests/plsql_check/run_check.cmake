# Runs one of the two script-check tests (cmake -P).
#
# With SELF_TEST: Node's test runner over the checker's own tests.
# Otherwise: tavrin -p over the examples batch and over well-formed batches
# of the generator, for several seeds and every line-end variant (the first
# seed of each also with -R), and over batches of the commits shape as
# history scripts (-H, and -H -R), then check.js over all the scripts written. Every script must show no syntax
# error and no block problem, and every row of a generated batch must reach
# its scripts.
#
# In: NODE, NODE_MODULES, SKIP_REASON, and SELF_TEST or CHECKER, TAVRIN,
# BATCHGEN, EXAMPLES, WORK_DIR.

cmake_minimum_required(VERSION 3.25)

if(SKIP_REASON)
  message("PL/SQL script check skipped: ${SKIP_REASON}")
  return()
endif()
if(NOT EXISTS ${NODE_MODULES}/antlr4ts-sql/package.json)
  message(FATAL_ERROR "${NODE_MODULES} does not hold antlr4ts-sql; configure the build again")
endif()
set(ENV{NODE_PATH} ${NODE_MODULES})

if(SELF_TEST)
  execute_process(COMMAND ${NODE} --test ${SELF_TEST} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "The checker's own tests failed")
  endif()
  return()
endif()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

# tavrin -p from `input` into WORK_DIR/`name`, with any further switches.
function(write_scripts name input)
  set(output ${WORK_DIR}/${name})
  file(MAKE_DIRECTORY ${output})
  execute_process(COMMAND ${TAVRIN} -p ${ARGN} -i ${input} -o ${output}
    RESULT_VARIABLE result OUTPUT_VARIABLE console ERROR_VARIABLE console)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "tavrin -p -i ${input} failed (${result}):\n${console}")
  endif()
endfunction()

write_scripts(examples ${EXAMPLES})

# Each line-end variant with two seeds of its own, so that the batches differ
# in their rows too; and one larger batch.
# A variant is its name, a colon and the generator's options, blank-separated.
set(variants
  "crlf:"
  "lf: --line-end lf"
  "crcrlf: --line-end crcrlf"
  "last-none: --last-line none"
  "last-cr: --last-line cr"
  "blanks: --blanks-after-semicolon"
  "all: --line-end crcrlf --last-line cr --blanks-after-semicolon")
set(seed 0)
foreach(variant IN LISTS variants)
  string(REGEX REPLACE ":.*" "" name "${variant}")
  string(REGEX REPLACE "^[^:]*:" "" options "${variant}")
  separate_arguments(options UNIX_COMMAND "${options}")
  foreach(round 1 2)
    math(EXPR seed "${seed} + 1")
    set(size 60K)
    if(seed EQUAL 1)
      set(size 300K)
    endif()
    set(input ${WORK_DIR}/batches/${name}-seed${seed})
    execute_process(
      COMMAND ${BATCHGEN} --shape well-formed --size ${size} --seed ${seed} ${options} ${input}
      RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "tavrin_batchgen failed for ${name}, seed ${seed}:\n${error}")
    endif()
    write_scripts(${name}-seed${seed} ${input})
    # Every line of a well-formed batch is a statement that must reach a script.
    list(APPEND checked --rows-of ${input} ${WORK_DIR}/${name}-seed${seed})
    # The first batch of each variant also as one block per group.
    if(round EQUAL 1)
      write_scripts(${name}-seed${seed}-R ${input} -R)
      list(APPEND checked --rows-of ${input} ${WORK_DIR}/${name}-seed${seed}-R)
    endif()
  endforeach()
endforeach()

# Rows that can commit part of a script, or only look so, in history scripts
# of both layouts.
foreach(seed 1 2)
  set(input ${WORK_DIR}/batches/commits-seed${seed})
  execute_process(
    COMMAND ${BATCHGEN} --shape commits --size 60K --seed ${seed} ${input}
    RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "tavrin_batchgen failed for commits, seed ${seed}:\n${error}")
  endif()
  write_scripts(commits-seed${seed} ${input} -H)
  write_scripts(commits-seed${seed}-R ${input} -H -R)
  list(APPEND checked --rows-of ${input} ${WORK_DIR}/commits-seed${seed}
                      --rows-of ${input} ${WORK_DIR}/commits-seed${seed}-R)
endforeach()

execute_process(COMMAND ${NODE} ${CHECKER} ${WORK_DIR}/examples ${checked} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "The scripts failed the PL/SQL script check (scripts and batches: ${WORK_DIR})")
endif()
