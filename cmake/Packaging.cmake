# The players' package: `cmake --build --preset windows --target package` gives
#   TovinLauncher-<version>-win32.zip        the stripped programs, README.txt, LICENSE.txt
#   TovinLauncher-<version>-win32-debug.zip  their debug information (*.debug)
#   SHA256SUMS                               beside both
# with both programs signed when TOVIN_SIGN_PFX names a certificate (PackageSigning.cmake).
# Each shipped program is stripped into release/; its debug information is kept apart
# with objcopy --only-keep-debug and found again through the .gnu_debuglink it carries.

set(TOVIN_RELEASE_DIR ${CMAKE_BINARY_DIR}/release)
find_program(TOVIN_PYTHON NAMES python3 REQUIRED)
set(TOVIN_PACKAGE_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win32)

# tovin_ship(TARGET FOLDER): TARGET's program goes into the package under FOLDER ("."
# for the top), stripped, and its debug information into the debug package.
function(tovin_ship target folder)
  set(name $<TARGET_FILE_NAME:${target}>)
  set(out ${TOVIN_RELEASE_DIR}/${folder})
  add_custom_command(
    OUTPUT ${out}/${target}.stamp
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    # --preserve-dates keeps the link's zero time stamp: objcopy would write today's.
    COMMAND ${CMAKE_OBJCOPY} --preserve-dates --only-keep-debug $<TARGET_FILE:${target}> ${out}/${name}.debug
    # The link names the debug file only (no folder), so it is found beside the program.
    COMMAND ${CMAKE_COMMAND} -E chdir ${out} ${CMAKE_OBJCOPY} --preserve-dates --strip-all
            --add-gnu-debuglink=${name}.debug $<TARGET_FILE:${target}> ${name}
    # Ends on Authenticode's 8-byte boundary, checksum written after the padding: a
    # signature added and removed again gives back these very bytes.
    COMMAND ${TOVIN_PYTHON} ${PROJECT_SOURCE_DIR}/scripts/pe-pad.py ${out}/${name}
    COMMAND ${CMAKE_COMMAND} -E touch ${out}/${target}.stamp
    DEPENDS ${target}
    COMMENT "Stripping ${target} for the package"
    VERBATIM)
  add_custom_target(${target}_release ALL DEPENDS ${out}/${target}.stamp)
  install(PROGRAMS ${out}/$<TARGET_FILE_NAME:${target}> DESTINATION ${folder} COMPONENT player)
  install(FILES ${out}/$<TARGET_FILE_NAME:${target}>.debug DESTINATION ${folder} COMPONENT debug)
endfunction()

# One line per shipped program.
tovin_ship(TovinLauncher .)
tovin_ship(tovin-lc tools)

# The players' README gives the reports' bounds from their constants, not copies of them.
function(tovin_constant var file name)
  file(STRINGS ${PROJECT_SOURCE_DIR}/${file} line REGEX "${name} = [0-9]+")
  if(NOT line MATCHES "${name} = ([0-9]+)")
    message(FATAL_ERROR "no ${name} in ${file}")
  endif()
  set(${var} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()
tovin_constant(TOVIN_CRASH_REPORTS_KEPT src/reports/CrashReport.h kCrashReportsKept)
tovin_constant(TOVIN_HANG_REPORTS_KEPT src/reports/CrashReport.h kHangReportsKept)
tovin_constant(hang_ms src/reports/Watchdog.h kHangMs)
math(EXPR TOVIN_HANG_SECONDS "${hang_ms} / 1000")

# Players read these in Notepad: Windows line ends.
configure_file(${PROJECT_SOURCE_DIR}/package/README.txt ${TOVIN_RELEASE_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${TOVIN_RELEASE_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${TOVIN_RELEASE_DIR}/README.txt ${TOVIN_RELEASE_DIR}/LICENSE.txt DESTINATION . COMPONENT player)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The TovinLauncher authors")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_ARCHIVE_PLAYER_FILE_NAME ${TOVIN_PACKAGE_NAME})
set(CPACK_ARCHIVE_DEBUG_FILE_NAME ${TOVIN_PACKAGE_NAME}-debug)
# One folder in each ZIP, so that unpacking beside the game overwrites none of its files.
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_FILE_NAME ${TOVIN_PACKAGE_NAME})
# Reproducible archives: every entry dated SOURCE_DATE_EPOCH, or else the date below;
# then the sums.
set(CPACK_TOVIN_PYTHON ${TOVIN_PYTHON})
set(CPACK_TOVIN_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_TOVIN_EPOCH 1767225600) # 2026-01-01 00:00 UTC
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageChecksums.cmake)
# Signing, when TOVIN_SIGN_PFX is set at build time, between the staging and the ZIPs.
find_program(TOVIN_OSSLSIGNCODE osslsigncode)
set(CPACK_TOVIN_OSSLSIGNCODE ${TOVIN_OSSLSIGNCODE})
set(TOVIN_PRODUCT_URL "https://tovin.example/launcher" CACHE STRING "The web page a signature names")
set(CPACK_TOVIN_PRODUCT_NAME ${PROJECT_NAME})
set(CPACK_TOVIN_PRODUCT_URL ${TOVIN_PRODUCT_URL})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageSigning.cmake)
include(CPack)
