# Indigo, the structure toolkit: Debian ships only the versioned libraries.
find_path(INDIGO_INCLUDE_DIR indigo.h REQUIRED)
find_library(INDIGO_LIBRARY NAMES libindigo.so.0d indigo REQUIRED)
find_library(INDIGO_RENDERER_LIBRARY NAMES libindigo-renderer.so.0d indigo-renderer REQUIRED)
add_library(tw_indigo UNKNOWN IMPORTED)
set_target_properties(tw_indigo PROPERTIES
  IMPORTED_LOCATION ${INDIGO_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${INDIGO_INCLUDE_DIR})
add_library(tw_indigo_renderer UNKNOWN IMPORTED)
set_target_properties(tw_indigo_renderer PROPERTIES
  IMPORTED_LOCATION ${INDIGO_RENDERER_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${INDIGO_INCLUDE_DIR}
  INTERFACE_LINK_LIBRARIES tw_indigo)
