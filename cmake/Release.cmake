# What makes a release: the version the resources carry, and builds that do
# not depend on where or when they ran.

# The patch number can be replaced, so that the upgrade test can build a
# newer release of the same source.
set(QUORVANE_VERSION_PATCH_OVERRIDE "" CACHE STRING "Patch version to build instead of the project's")
set(QUORVANE_VERSION_PATCH ${PROJECT_VERSION_PATCH})
if(NOT QUORVANE_VERSION_PATCH_OVERRIDE STREQUAL "")
  set(QUORVANE_VERSION_PATCH ${QUORVANE_VERSION_PATCH_OVERRIDE})
endif()
set(QUORVANE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${QUORVANE_VERSION_PATCH})
add_compile_definitions(
  $<$<COMPILE_LANGUAGE:RC>:QUORVANE_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}>
  $<$<COMPILE_LANGUAGE:RC>:QUORVANE_VERSION_MINOR=${PROJECT_VERSION_MINOR}>
  $<$<COMPILE_LANGUAGE:RC>:QUORVANE_VERSION_PATCH=${QUORVANE_VERSION_PATCH}>)

# Reproducible binaries: no source or build folder in them (the later map
# wins, so the build folder inside the sources maps to build/), and no link
# time in the PE headers.
if(NOT MSVC)
  add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>
                      $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>)
endif()
if(MINGW)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
