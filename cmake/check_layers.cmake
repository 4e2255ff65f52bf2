# Fails when a source file under src/ includes a header of a folder its layer may not use.
# Run by the build (target zelvo_layers) before any library is compiled:
#   cmake -DSRC=<source dir>/src -P cmake/check_layers.cmake
# Layers, each listing what it may include besides itself; this is the diagram of
# docs/DESIGN.md ("Layers"), bottom to top:
#   numeric, text            the base: pixels, arithmetic, plain text; they include nothing
#   geometry                 on numeric
#   platform                 on numeric and text (console, graphics device, files, processes)
#   fits                     on platform (and numeric, text)
#   removal, photometry,     the measuring layers: on geometry (and numeric, text); never on
#   galaxy                   each other
#   display                  on the measuring layers and platform (and everything under them)
#   session                  on everything
set(allowed_numeric "")
set(allowed_text "")
set(allowed_geometry "numeric")
set(allowed_platform "numeric;text")
set(allowed_fits "numeric;text;platform")
set(allowed_removal "numeric;text;geometry")
set(allowed_photometry "numeric;text;geometry")
set(allowed_galaxy "numeric;text;geometry")
set(allowed_display "numeric;text;geometry;platform;removal;photometry;galaxy")
set(allowed_session "numeric;text;geometry;platform;fits;removal;photometry;galaxy;display")
set(console_free "numeric;text;geometry;fits;display;removal;photometry;galaxy")

file(GLOB_RECURSE files RELATIVE ${SRC} ${SRC}/*.h ${SRC}/*.cpp)
set(failures "")
foreach(f IN LISTS files)
  string(REGEX MATCH "^[^/]+" layer "${f}")
  if(layer STREQUAL f)  # main.cpp: the program entry may use every layer
    continue()
  endif()
  if(NOT DEFINED allowed_${layer})
    list(APPEND failures "${f}: folder ${layer} has no place in the layer list (cmake/check_layers.cmake)")
    continue()
  endif()
  list(FIND console_free ${layer} quiet)
  if(NOT quiet EQUAL -1)
    file(STRINGS ${SRC}/${f} console REGEX "^[ \t]*#[ \t]*include[ \t]*\"platform/console\\.h\"")
    if(console)
      list(APPEND failures "${f}: ${layer} may not use the console (${console})")
    endif()
  endif()
  file(STRINGS ${SRC}/${f} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[^\"]*\"([^\"/]+)/.*$" "\\1" used "${line}")
    if(used STREQUAL layer)
      continue()
    endif()
    list(FIND allowed_${layer} ${used} at)
    if(at EQUAL -1)
      list(APPEND failures "${f}: ${layer} may not include ${used} (${line})")
    endif()
  endforeach()
endforeach()
if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "Layering broken:\n  ${text}")
endif()
