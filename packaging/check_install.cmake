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

foreach(file share/applications/${APP_ID}.desktop share/metainfo/${APP_ID}.metainfo.xml
             share/icons/hicolor/scalable/apps/${APP_ID}.svg share/man/man1/newsbar.1.gz)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "missing ${PREFIX}/${file}")
  endif()
endforeach()

# Each icon in the folder of its own size (a PNG's width and height are at bytes 16-23).
foreach(size 16 32 48 64 128)
  set(icon ${PREFIX}/share/icons/hicolor/${size}x${size}/apps/${APP_ID}.png)
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

execute_process(COMMAND desktop-file-validate ${PREFIX}/share/applications/${APP_ID}.desktop
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "desktop-file-validate failed on the installed entry")
endif()
# The installed tree as a software centre reads it: metadata, desktop entry and icon.
execute_process(COMMAND appstreamcli validate-tree --pedantic --no-net ${PREFIX}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "appstreamcli validate-tree failed on ${PREFIX}")
endif()

# The manual page reads without a warning from the formatter.
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 MANWIDTH=80
                        man --warnings -l ${PREFIX}/share/man/man1/newsbar.1.gz
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE warnings)
if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
  message(FATAL_ERROR "the manual page does not format cleanly (${result}):\n${warnings}")
endif()

# Without a display (and without a platform chosen) the player says so in one line and
# ends with 1, before Qt would try its platform plugins.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                        --unset=QT_QPA_PLATFORM timeout 10 ${binary}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE message)
if(NOT result EQUAL 1
   OR NOT message STREQUAL
          "newsbar needs a graphical session: neither DISPLAY nor WAYLAND_DISPLAY is set\n"
   OR NOT output STREQUAL "")
  message(FATAL_ERROR "without a display: code ${result}, stderr '${message}'")
endif()

# The installed player starts and keeps running (it is ended here after two seconds; a
# player that fails to start ends sooner with another code). No session bus, so that a
# player already running on the desktop does not take this start over.
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                        DBUS_SESSION_BUS_ADDRESS=disabled: timeout 2 ${binary}
                RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
if(NOT result EQUAL 124)
  message(FATAL_ERROR "the installed player ended by itself (code ${result})")
endif()
message(STATUS "install tree in ${PREFIX}: complete and valid")
