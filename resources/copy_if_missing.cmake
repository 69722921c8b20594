# cmake -DSOURCE=<file> -DDESTINATION=<file> -P copy_if_missing.cmake
# Copies SOURCE to DESTINATION unless DESTINATION exists already.
if(NOT EXISTS "${DESTINATION}")
  get_filename_component(folder "${DESTINATION}" DIRECTORY)
  file(MAKE_DIRECTORY "${folder}")
  configure_file("${SOURCE}" "${DESTINATION}" COPYONLY)
endif()
