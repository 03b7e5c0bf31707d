# CPack post-build script: makes the ZIPs reproducible (scripts/normalise-zip.py: fixed
# dates, no per-build fields), then writes SHA256SUMS beside them, in the format
# `sha256sum -c` reads.
list(SORT CPACK_PACKAGE_FILES)
execute_process(COMMAND "${CPACK_TOVIN_PYTHON}" "${CPACK_TOVIN_SOURCE_DIR}/scripts/normalise-zip.py"
                        "${CPACK_TOVIN_EPOCH}" ${CPACK_PACKAGE_FILES}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not normalise ${CPACK_PACKAGE_FILES}")
endif()
set(sums "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(SHA256 "${package}" hash)
  get_filename_component(name "${package}" NAME)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${sums}")
