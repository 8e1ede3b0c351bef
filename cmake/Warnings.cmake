# One interface target that carries the project's warning flags; every target links it.
add_library(downloader_warnings INTERFACE)
target_compile_options(downloader_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow)
if(DOWNLOADER_WERROR)
  target_compile_options(downloader_warnings INTERFACE -Werror)
endif()
