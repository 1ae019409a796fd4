# What an installation holds, and the packages CPack makes of it: on Linux
# `tavrin` in bin/ and its documentation (the README, docs/ and the example
# batch) in share/doc/tavrin/; on Windows one folder with tavrin.exe and the
# same documentation beside it, zipped.

if(WIN32)
  set(TAVRIN_INSTALL_BINDIR .)
  set(TAVRIN_INSTALL_DOCDIR .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
else()
  include(GNUInstallDirs)
  set(TAVRIN_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(TAVRIN_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/tavrin)
  set(CPACK_GENERATOR TGZ)
endif()

install(TARGETS tavrin RUNTIME DESTINATION ${TAVRIN_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${TAVRIN_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs DESTINATION ${TAVRIN_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/batch DESTINATION ${TAVRIN_INSTALL_DOCDIR}/examples)

set(CPACK_PACKAGE_NAME tavrin)
set(CPACK_PACKAGE_VENDOR ${TAVRIN_PRODUCT_NAME})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Turns audit SQL logs into SQL*Plus scripts and loads them")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# tavrin-<version>-Linux.tar.gz and tavrin-<version>-win64.zip, each with
# one top folder of the same name.
include(CPack)
