# nlohmann-json is header-only, so the host's headers serve the cross build; but its own
# package adds all of /usr/include, which must not reach the cross compiler. This one adds
# a folder with nothing in it but the nlohmann headers.
if(NOT TARGET nlohmann_json::nlohmann_json)
  set(_nlohmann_include ${CMAKE_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${_nlohmann_include})
  file(CREATE_LINK /usr/include/nlohmann ${_nlohmann_include}/nlohmann SYMBOLIC)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${_nlohmann_include})
endif()
