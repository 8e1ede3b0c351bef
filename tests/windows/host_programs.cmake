# Brings the Linux build that the end-to-end tests under Wine use up to date:
#   cmake -DSOURCE_DIR=... -DHOST_BUILD_DIR=... -P host_programs.cmake
if(NOT EXISTS ${HOST_BUILD_DIR}/CMakeCache.txt)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${HOST_BUILD_DIR} -G Ninja
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDOWNLOADER_WERROR=ON
    COMMAND_ERROR_IS_FATAL ANY)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${HOST_BUILD_DIR}
    --target wine_e2e_test wine_display_test wine_layout_test
  COMMAND_ERROR_IS_FATAL ANY)
