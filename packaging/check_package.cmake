# Builds the Debian package into OUT and checks it as a distribution would: lintian with
# nothing to report at warning level or above, the player alone in it (stripped, without
# the compiler's identification), and the media library among its dependencies.
#   cmake -DBUILD_DIR=<build> -DOUT=<folder> -P check_package.cmake
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G DEB -B ${OUT}
                        --config ${BUILD_DIR}/CPackConfig.cmake
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(GLOB package ${OUT}/*.deb)
list(LENGTH package count)
if(NOT result EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack -G DEB failed (${result}):\n${output}")
endif()

execute_process(COMMAND lintian --fail-on error,warning ${package}
                RESULT_VARIABLE result OUTPUT_VARIABLE report ERROR_VARIABLE report)
if(NOT result EQUAL 0 OR report MATCHES "(^|\n)[EW]: ")
  message(FATAL_ERROR "lintian on ${package} (${result}):\n${report}")
endif()

execute_process(COMMAND dpkg-deb --field ${package} Depends OUTPUT_VARIABLE depends)
if(NOT depends MATCHES "libmpv2")
  message(FATAL_ERROR "the package does not depend on libmpv2: ${depends}")
endif()

set(tree ${OUT}/tree)
execute_process(COMMAND dpkg-deb --extract ${package} ${tree} RESULT_VARIABLE result)
file(GLOB binaries ${tree}/usr/bin/*)
if(NOT result EQUAL 0 OR NOT binaries STREQUAL "${tree}/usr/bin/newsbar")
  message(FATAL_ERROR "the package's programs are not the player alone: ${binaries}")
endif()
execute_process(COMMAND readelf --sections --wide ${tree}/usr/bin/newsbar
                OUTPUT_VARIABLE sections RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR sections MATCHES "\\.(symtab|debug_[a-z]*|comment) ")
  message(FATAL_ERROR "the packaged player keeps symbols or unneeded sections:\n${sections}")
endif()
message(STATUS "${package}: lintian clean, player alone, stripped, depends on libmpv2")
