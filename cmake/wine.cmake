# Windows programs built on Linux run through Wine: in the tests, and wherever
# the build runs one of its own programs. The Wine prefix lives in the build
# tree, so a fresh build starts from a fresh prefix and nothing touches ~/.wine.
set(PICTROVE_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${PICTROVE_WINEPREFIX})

# The nlohmann-json headers are plain C++ and serve any target, but the host's
# include folder must not reach the cross compiler: copy the one library over.
if(NOT TARGET nlohmann_json::nlohmann_json AND EXISTS /usr/include/nlohmann/json.hpp)
  file(COPY /usr/include/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/host-headers)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/host-headers)
endif()
