# What `cmake --install` and the Debian package lay out. The programs live
# together in one program folder, because the window looks for its settings
# file, its configurator and its manual beside its own executable (a user who
# cannot write that folder may keep an own settings file in ~/.config/pictrove);
# bin/ holds links to them, and the desktop entry, icons, MIME type, metainfo,
# thumbnailer and licence go where desktops and Debian look for them
# (share/applications, share/icons/hicolor, share/mime/packages, share/metainfo,
# share/thumbnailers, share/doc/pictrove).
set(PICTROVE_PROGRAM_DIR lib/pictrove)
set(PICTROVE_ICON_SIZES 16 24 32 48 64 128 256)
set(desktop_dir ${PROJECT_SOURCE_DIR}/desktop)

install(TARGETS pictrove-cli RUNTIME DESTINATION ${PICTROVE_PROGRAM_DIR})
# The modules the programs load from beside them (none on Windows).
foreach(module pictrove_codecs ${PICTROVE_FORMAT_MODULES})
  if(TARGET ${module})
    install(TARGETS ${module} LIBRARY DESTINATION ${PICTROVE_PROGRAM_DIR})
  endif()
endforeach()
# The SVG drawing helper, looked for where the modules are: beside the
# programs, and beside the Python package's module.
if(TARGET pictrove_svg_draw)
  install(TARGETS pictrove_svg_draw RUNTIME DESTINATION ${PICTROVE_PROGRAM_DIR})
  if(PICTROVE_PYTHON AND DEFINED PICTROVE_PYTHON_INSTALL_DIR)
    install(TARGETS pictrove_svg_draw RUNTIME DESTINATION ${PICTROVE_PYTHON_INSTALL_DIR}/pictrove)
  endif()
endif()
if(PICTROVE_GUI)
  install(TARGETS pictrove RUNTIME DESTINATION ${PICTROVE_PROGRAM_DIR})
  install(FILES ${desktop_dir}/pictrove.ini ${desktop_dir}/pictrove.html DESTINATION ${PICTROVE_PROGRAM_DIR})
  # The manual's pictures, beside it as it links them.
  install(DIRECTORY ${desktop_dir}/screenshots DESTINATION ${PICTROVE_PROGRAM_DIR} FILES_MATCHING PATTERN "*.png")
endif()

if(NOT UNIX OR APPLE)
  return()
endif()

# Relative links, so that the tree can be moved or staged for a package.
set(program_links pictrove-cli)
if(PICTROVE_GUI)
  list(APPEND program_links pictrove)
endif()
foreach(program IN LISTS program_links)
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${program}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(REMOVE \"\${link}\")
    file(CREATE_LINK ../${PICTROVE_PROGRAM_DIR}/${program} \"\${link}\" SYMBOLIC)
    message(STATUS \"Installing: \${link} -> ../${PICTROVE_PROGRAM_DIR}/${program}\")")
endforeach()

# The application icon in every size of the hicolor theme, drawn by the
# engine from the icon the executable carries.
set(app_icon ${PROJECT_SOURCE_DIR}/src/app/resources/pictrove.ico)
set(icon_files)
foreach(size IN LISTS PICTROVE_ICON_SIZES)
  set(png ${CMAKE_BINARY_DIR}/icons/hicolor/${size}x${size}/apps/${PICTROVE_APP_ID}.png)
  add_custom_command(OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/hicolor/${size}x${size}/apps
    COMMAND pictrove-cli thumbnail -s ${size} ${app_icon} ${png}
    DEPENDS pictrove-cli ${app_icon}
    COMMENT "Drawing the ${size} px application icon" VERBATIM)
  list(APPEND icon_files ${png})
endforeach()
add_custom_target(app_icons ALL DEPENDS ${icon_files})
install(DIRECTORY ${CMAKE_BINARY_DIR}/icons/ DESTINATION share/icons)

configure_file(${desktop_dir}/pictrove.desktop.in ${CMAKE_BINARY_DIR}/desktop/${PICTROVE_APP_ID}.desktop @ONLY)
configure_file(${desktop_dir}/pictrove.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/desktop/${PICTROVE_APP_ID}.metainfo.xml @ONLY)
# Man pages go compressed, as Debian wants them; man reads them either way.
set(man_pages)
foreach(page pictrove pictrove-cli)
  configure_file(${desktop_dir}/${page}.1.in ${CMAKE_BINARY_DIR}/desktop/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/desktop/${page}.1.gz
    COMMAND gzip -9nf -k ${page}.1
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/desktop
    DEPENDS ${CMAKE_BINARY_DIR}/desktop/${page}.1 VERBATIM)
  list(APPEND man_pages ${CMAKE_BINARY_DIR}/desktop/${page}.1.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})
install(FILES ${CMAKE_BINARY_DIR}/desktop/pictrove-cli.1.gz DESTINATION share/man/man1)
install(FILES ${desktop_dir}/pictrove.thumbnailer DESTINATION share/thumbnailers)
# The licence (LICENSE) in the form Debian wants beside every package.
install(FILES ${desktop_dir}/copyright DESTINATION share/doc/pictrove)
install(FILES ${desktop_dir}/pictrove-cli.bash-completion DESTINATION share/bash-completion/completions
        RENAME pictrove-cli)
install(FILES ${desktop_dir}/pictrove-mime.xml DESTINATION share/mime/packages
        RENAME ${PICTROVE_APP_ID}.xml)
if(PICTROVE_GUI)
  install(FILES ${CMAKE_BINARY_DIR}/desktop/${PICTROVE_APP_ID}.desktop DESTINATION share/applications)
  install(FILES ${CMAKE_BINARY_DIR}/desktop/${PICTROVE_APP_ID}.metainfo.xml DESTINATION share/metainfo)
  install(FILES ${CMAKE_BINARY_DIR}/desktop/pictrove.1.gz DESTINATION share/man/man1)
endif()

include(cmake/package.cmake)
