# Shows that the layer check refuses what the diagram forbids: copies src/ to a scratch folder,
# adds one forbidden include at a time and expects cmake/check_layers.cmake to fail, naming it;
# the untouched copy must pass. Run by ctest:
#   cmake -DSRC=<source dir>/src -DWORK=<scratch dir> -P cmake/check_layers_planted.cmake
set(check ${CMAKE_CURRENT_LIST_DIR}/check_layers.cmake)
file(REMOVE_RECURSE ${WORK})
file(COPY ${SRC}/ DESTINATION ${WORK})

function(run_check result message)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSRC=${WORK} -P ${check} RESULT_VARIABLE rc OUTPUT_QUIET
                  ERROR_VARIABLE err)
  set(${result} ${rc} PARENT_SCOPE)
  set(${message} "${err}" PARENT_SCOPE)
endfunction()

run_check(rc err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "The layer check fails on the untouched tree:\n${err}")
endif()

# file that gets the include | header it may not include | what the check must say
set(cases
    "display/zoom.h|fits/fits_io.h|display may not include fits"
    "removal/edge.h|photometry/psf.h|removal may not include photometry"
    "photometry/psf.h|platform/graphics.h|photometry may not include platform"
    "numeric/box.h|text/list_format.h|numeric may not include text"
    "text/list_format.h|numeric/box.h|text may not include numeric"
    "fits/fits_io.h|display/display.h|fits may not include display"
    "galaxy/profile.h|platform/graphics.h|galaxy may not include platform"
    "galaxy/profile.h|platform/console.h|galaxy may not use the console")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 file)
  list(GET parts 1 header)
  list(GET parts 2 said)
  file(READ ${WORK}/${file} original)
  file(APPEND ${WORK}/${file} "#include \"${header}\"\n")
  run_check(rc err)
  file(WRITE ${WORK}/${file} "${original}")
  if(rc EQUAL 0)
    message(FATAL_ERROR "The layer check let ${file} include ${header}")
  endif()
  string(FIND "${err}" "${file}: ${said}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "The layer check refused ${file} including ${header}, but did not say '${said}':\n${err}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})
