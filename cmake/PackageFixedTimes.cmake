# CPack pre-build script: dates every staged file and folder at one time before the
# archives are written (SOURCE_DATE_EPOCH when set, else a fixed date), so that the ZIPs
# do not depend on when they were built.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch "$ENV{SOURCE_DATE_EPOCH}")
else()
  set(epoch "${CPACK_TOVIN_EPOCH}")
endif()
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(path IN LISTS staged)
  execute_process(COMMAND touch -h -d "@${epoch}" "${path}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "could not date ${path}")
  endif()
endforeach()
