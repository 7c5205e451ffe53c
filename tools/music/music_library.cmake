# The synthesiser as a library, shared by the generator and its tests. Included from the tests
# too when the generators are not built, hence the guard.
if(NOT TARGET velmora_music)
  find_path(LAME_INCLUDE_DIR lame/lame.h REQUIRED)
  find_library(LAME_LIBRARY mp3lame REQUIRED)
  find_package(Threads REQUIRED)
  set(dir ${CMAKE_CURRENT_LIST_DIR})
  add_library(velmora_music STATIC
    ${dir}/dsp.cpp ${dir}/instruments.cpp ${dir}/score.cpp ${dir}/render.cpp
    ${dir}/loudness.cpp ${dir}/encode.cpp)
  target_include_directories(velmora_music PUBLIC ${dir} PRIVATE ${LAME_INCLUDE_DIR})
  target_link_libraries(velmora_music PUBLIC ${LAME_LIBRARY} Threads::Threads)
  # The render is long; keep it fast in every build type.
  target_compile_options(velmora_music PRIVATE $<$<CONFIG:Debug>:-O2>)
endif()
