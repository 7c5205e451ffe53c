# The art generator as a library, shared by the generator executable and its
# tests (which also build it when the generators are switched off).
if(NOT TARGET velmora_art)
  find_path(VELMORA_STB_INCLUDE_DIR stb/stb_truetype.h PATHS /usr/include /usr/local/include)
  find_file(VELMORA_TITLE_FONT NAMES Quattrocento-Regular.otf
    PATHS /usr/share/fonts /usr/local/share/fonts
    PATH_SUFFIXES opentype/quattrocento truetype/quattrocento quattrocento)
  find_file(VELMORA_TEXT_FONT NAMES Lato-Light.ttf
    PATHS /usr/share/fonts /usr/local/share/fonts
    PATH_SUFFIXES truetype/lato lato)
  if(NOT VELMORA_STB_INCLUDE_DIR OR NOT VELMORA_TITLE_FONT OR NOT VELMORA_TEXT_FONT)
    message(FATAL_ERROR "The art generator needs stb_truetype and two fonts: install the "
                        "packages of scripts/packages/art.txt (scripts/setup.sh does).")
  endif()

  set(VELMORA_ART_DIR ${CMAKE_CURRENT_LIST_DIR})
  add_library(velmora_art STATIC
    ${VELMORA_ART_DIR}/generate.cpp
    ${VELMORA_ART_DIR}/image.cpp
    ${VELMORA_ART_DIR}/scene.cpp
    ${VELMORA_ART_DIR}/walk.cpp
    ${VELMORA_ART_DIR}/desert.cpp
    ${VELMORA_ART_DIR}/mountain.cpp
    ${VELMORA_ART_DIR}/night.cpp
    ${VELMORA_ART_DIR}/sky.cpp
    ${VELMORA_ART_DIR}/text.cpp)
  target_include_directories(velmora_art PUBLIC ${VELMORA_ART_DIR})
  target_include_directories(velmora_art SYSTEM PRIVATE ${VELMORA_STB_INCLUDE_DIR})
  # Same bytes on every machine: no fused multiply-add contraction.
  target_compile_options(velmora_art PRIVATE -ffp-contract=off)
  find_package(Threads REQUIRED)
  target_link_libraries(velmora_art PUBLIC Threads::Threads)
endif()
