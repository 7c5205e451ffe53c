# velmora_add_test(NAME n SOURCES ... [LIBS ...] [LABELS label] [GL])
# A GoogleTest executable run from the directory that holds data/. GL tests need a display.
function(velmora_add_test)
  cmake_parse_arguments(T "GL" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE velmora_core velmora_test_support GTest::gtest_main ${T_LIBS})
  # Discovered tests keep a single label: the area's own, else gl for those needing a display.
  set(labels ${T_LABELS})
  if(T_GL AND NOT labels)
    set(labels gl)
  endif()
  # The long runs start first, so that the rest of the suite runs beside them, not after.
  set(properties COST 1)
  if(labels STREQUAL "long")
    set(properties COST 1000)
  endif()
  if(labels)
    list(APPEND properties LABELS "${labels}")
  endif()
  if(CMAKE_CROSSCOMPILING)
    # One test per executable, run through CMAKE_CROSSCOMPILING_EMULATOR (Wine) by ctest.
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} WORKING_DIRECTORY ${VELMORA_RUN_DIR})
    set_tests_properties(${T_NAME} PROPERTIES ${properties})
  else()
    gtest_discover_tests(${T_NAME}
      WORKING_DIRECTORY ${VELMORA_RUN_DIR}
      DISCOVERY_TIMEOUT 60
      PROPERTIES ${properties})
  endif()
endfunction()
