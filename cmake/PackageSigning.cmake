# CPack pre-build script: signs the player's programs in the staging folder, before they
# are zipped, when TOVIN_SIGN_PFX names a PKCS#12 file (its password in
# TOVIN_SIGN_PASSWORD; an RFC 3161 time stamp from TOVIN_SIGN_TIMESTAMP_URL when set).
# Authenticode with SHA-256, the product's name and web page as the description. The
# signature is a layer on top of the reproducible unsigned program: removing it gives
# that program back byte for byte (see scripts/pe-pad.py).

# The messages begin with a space: CMake leaves such a line whole instead of wrapping it.
# A failed signature must leave no ZIP behind, not even one of an earlier build.
file(GLOB earlier "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}*.zip")
file(REMOVE ${earlier} "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS")

set(pfx "$ENV{TOVIN_SIGN_PFX}")
if(pfx STREQUAL "")
  message(STATUS "package: the programs are not signed (TOVIN_SIGN_PFX names no certificate)")
  return()
endif()
if(NOT CPACK_TOVIN_OSSLSIGNCODE)
  message(FATAL_ERROR " signing: osslsigncode is not installed (scripts/setup.sh installs it)")
endif()
if(NOT IS_ABSOLUTE "${pfx}")
  # cpack runs in the build folder; a relative name is the caller's, from where it ran.
  message(FATAL_ERROR " signing: TOVIN_SIGN_PFX must be an absolute path, not ${pfx}")
endif()
if(NOT EXISTS "${pfx}" OR IS_DIRECTORY "${pfx}")
  message(FATAL_ERROR " signing: cannot read ${pfx} (TOVIN_SIGN_PFX)")
endif()

# The password goes through a file only this user reads, not onto a command line that
# every process on the machine can see.
set(secret "${CPACK_TOPLEVEL_DIRECTORY}/sign-password")
file(WRITE "${secret}" "")
file(CHMOD "${secret}" PERMISSIONS OWNER_READ OWNER_WRITE)
file(APPEND "${secret}" "$ENV{TOVIN_SIGN_PASSWORD}")
set(timestamp "")
if(NOT "$ENV{TOVIN_SIGN_TIMESTAMP_URL}" STREQUAL "")
  set(timestamp -ts "$ENV{TOVIN_SIGN_TIMESTAMP_URL}")
endif()

file(GLOB_RECURSE programs "${CPACK_TEMPORARY_DIRECTORY}/player/*.exe")
list(SORT programs)
foreach(program IN LISTS programs)
  get_filename_component(name "${program}" NAME)
  file(REMOVE "${program}.signed")
  execute_process(
    COMMAND "${CPACK_TOVIN_OSSLSIGNCODE}" sign -pkcs12 "${pfx}" -readpass "${secret}" -h sha256
            -n "${CPACK_TOVIN_PRODUCT_NAME}" -i "${CPACK_TOVIN_PRODUCT_URL}" ${timestamp}
            -in "${program}" -out "${program}.signed"
    RESULT_VARIABLE failed OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT failed AND EXISTS "${program}.signed")
    file(RENAME "${program}.signed" "${program}")
    message(STATUS "package: signed ${name}")
    continue()
  endif()
  file(REMOVE "${secret}" "${program}.signed")
  if(output MATCHES "[Tt]ime[- ]?stamp|[Cc]url|HTTP")
    message(FATAL_ERROR " signing: ${name} could not be time-stamped by $ENV{TOVIN_SIGN_TIMESTAMP_URL}")
  endif()
  message(FATAL_ERROR " signing: cannot sign ${name} with ${pfx}: it is not a readable PKCS#12 file, or TOVIN_SIGN_PASSWORD is not its password")
endforeach()
file(REMOVE "${secret}")
