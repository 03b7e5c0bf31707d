# CPack post-build script: SHA256SUMS beside the ZIPs, in the format `sha256sum -c` reads.
set(sums "")
list(SORT CPACK_PACKAGE_FILES)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(SHA256 "${package}" hash)
  get_filename_component(name "${package}" NAME)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${sums}")
