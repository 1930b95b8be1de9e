# Installs the build into PREFIX and checks what a desktop needs from it.
#   cmake -DBUILD_DIR=<build> -DPREFIX=<folder> -DAPP_ID=<id> -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(binary ${PREFIX}/bin/newsbar)
if(NOT EXISTS ${binary} OR IS_DIRECTORY ${binary})
  message(FATAL_ERROR "missing ${binary}")
endif()
execute_process(COMMAND ldd ${binary} OUTPUT_VARIABLE libraries RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR libraries MATCHES "not found")
  message(FATAL_ERROR "the installed player's libraries do not all resolve:\n${libraries}")
endif()

foreach(file share/applications/newsbar.desktop share/metainfo/${APP_ID}.metainfo.xml)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "missing ${PREFIX}/${file}")
  endif()
endforeach()

# Each icon in the folder of its own size (a PNG's width and height are at bytes 16-23).
foreach(size 16 32 48 64)
  set(icon ${PREFIX}/share/icons/hicolor/${size}x${size}/apps/newsbar.png)
  if(NOT EXISTS ${icon})
    message(FATAL_ERROR "missing ${icon}")
  endif()
  file(READ ${icon} header OFFSET 16 LIMIT 8 HEX)
  math(EXPR expected "${size}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" expected ${expected})
  string(LENGTH ${expected} digits)
  while(digits LESS 8)
    string(PREPEND expected 0)
    string(LENGTH ${expected} digits)
  endwhile()
  if(NOT header STREQUAL "${expected}${expected}")
    message(FATAL_ERROR "${icon} is not ${size} x ${size} (header ${header})")
  endif()
endforeach()

execute_process(COMMAND desktop-file-validate ${PREFIX}/share/applications/newsbar.desktop
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "desktop-file-validate failed on the installed entry")
endif()
# The installed tree as a software centre reads it: metadata, desktop entry and icon.
execute_process(COMMAND appstreamcli validate-tree --no-net ${PREFIX} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "appstreamcli validate-tree failed on ${PREFIX}")
endif()

# The installed player starts and keeps running (it is ended here after two seconds; a
# player that fails to start ends sooner with another code).
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen timeout 2 ${binary}
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
if(NOT result EQUAL 124)
  message(FATAL_ERROR "the installed player ended by itself (code ${result})")
endif()
message(STATUS "install tree in ${PREFIX}: complete and valid")
