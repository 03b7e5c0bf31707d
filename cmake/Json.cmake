# tovin_json: the header-only nlohmann::json (Debian's nlohmann-json3-dev), for the value
# syntax and the console tool only; the launcher never links it. The cross build sees the
# library's own folder alone, through a link in the build folder, not the host's whole
# /usr/include.
find_path(TOVIN_NLOHMANN_ROOT nlohmann/json.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT TOVIN_NLOHMANN_ROOT)
  message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev (scripts/setup.sh does)")
endif()
set(TOVIN_JSON_INCLUDE ${CMAKE_BINARY_DIR}/json-include)
file(MAKE_DIRECTORY ${TOVIN_JSON_INCLUDE})
file(CREATE_LINK ${TOVIN_NLOHMANN_ROOT}/nlohmann ${TOVIN_JSON_INCLUDE}/nlohmann SYMBOLIC)
add_library(tovin_json INTERFACE)
target_include_directories(tovin_json SYSTEM INTERFACE ${TOVIN_JSON_INCLUDE})
