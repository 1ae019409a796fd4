# A Windows build's test programs run under Wine (Debian: wine64), in a
# Wine prefix of the build's own, so that no user's prefix is touched.

find_program(TAVRIN_WINE_LOADER NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(TAVRIN_WINE_LOADER NAMES wine64 wine)
find_program(TAVRIN_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(TAVRIN_WINESERVER NAMES wineserver)
if(NOT TAVRIN_WINE_LOADER OR NOT TAVRIN_WINESERVER)
  message(FATAL_ERROR "Wine not found: install it (Debian: wine64) or build with -DTAVRIN_TESTS=OFF")
endif()

set(TAVRIN_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(TAVRIN_WINE_ENVIRONMENT WINEPREFIX=${TAVRIN_WINEPREFIX} WINEDEBUG=-all)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${TAVRIN_WINE_ENVIRONMENT}
                                  ${TAVRIN_WINE_LOADER})
