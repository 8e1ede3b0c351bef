# The Windows programs' version: the project's version as the packages name it
# (MAJOR.MINOR.PATCH), and the one function that gives a program its version resource.

set(DOWNLOADER_PACKAGE_VERSION
  "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
if(PROJECT_VERSION_PATCH STREQUAL "")
  set(DOWNLOADER_PACKAGE_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0")
endif()
set(DOWNLOADER_PUBLISHER "Downloader developers")

if(WIN32)
  enable_language(RC)
  # scripts/package names the setup program and the zip after it.
  file(WRITE ${CMAKE_BINARY_DIR}/package-version "${DOWNLOADER_PACKAGE_VERSION}\n")
endif()

# The product icon, which every Windows program and the setup program carry.
set(DOWNLOADER_ICON ${PROJECT_SOURCE_DIR}/src/ui/win32/resources/downloader.ico)

# downloader_version_resource(TARGET DESCRIPTION): on Windows, TARGET's file gets a version
# resource (VERSIONINFO: file and product version, description, publisher) and the product
# icon (resource 1, the one Explorer shows) in a resource file of its own, so that the
# program's other resources (a manifest) sit beside them in theirs. Elsewhere nothing.
function(downloader_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  string(REPLACE "." "," numbers "${DOWNLOADER_PACKAGE_VERSION}")
  set(DOWNLOADER_RC_NUMBERS "${numbers},0")
  get_target_property(name ${target} OUTPUT_NAME)
  get_target_property(suffix ${target} SUFFIX)
  if(NOT name)
    set(name ${target})
  endif()
  if(NOT suffix)
    set(suffix .exe)
  endif()
  set(DOWNLOADER_RC_NAME "${name}")
  set(DOWNLOADER_RC_FILE "${name}${suffix}")
  set(DOWNLOADER_RC_DESCRIPTION "${description}")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${DOWNLOADER_ICON})
  target_sources(${target} PRIVATE ${rc})
endfunction()
