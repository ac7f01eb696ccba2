# `cpack -G DEB` in a build folder makes a Debian package of the install
# above. dpkg-shlibdeps works out the libraries it depends on; the desktop's
# caches (MIME types, menus, icons, man pages) are refreshed by the dpkg
# triggers of the packages that own them, so no maintainer scripts are needed.
set(CPACK_PACKAGE_NAME pictrove)
set(CPACK_PACKAGE_VENDOR "The Pictrove developers")
set(CPACK_PACKAGE_CONTACT "Pictrove <pictrove@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "finds the icons inside programs, libraries and icon files")
set(CPACK_PACKAGE_DESCRIPTION
    "Pictrove shows every icon inside Windows executables and libraries (PE and NE),\n"
    "icon libraries, icon, cursor and animated cursor files and its own collection\n"
    "files, and saves them as icons, bitmaps, PNG images or collections. The\n"
    "package also brings pictrove-cli for scripts and a thumbnailer that lets file\n"
    "managers show a program's icon as its thumbnail.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# pictrove-cli scan loads OpenSSL's libcrypto when it first hashes, which
# dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3")
# The window opens the manual, links and mail through the desktop's opener.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
# The Python package, in lib/python3/dist-packages for Debian's python3,
# gives pixels as NumPy arrays.
if(PICTROVE_PYTHON)
  string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS ", python3-numpy")
endif()
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://pictrove.example.org/")
set(CPACK_STRIP_FILES ON)
# The settings file is the administrator's to edit (by hand or with the
# configurator): as a conffile an upgrade keeps the edits and asks before it
# replaces them. It stays in the program folder; users who cannot write there
# keep their own in ~/.config/pictrove/, which the window then reads instead.
file(WRITE ${CMAKE_BINARY_DIR}/debian/conffiles "/usr/${PICTROVE_PROGRAM_DIR}/pictrove.ini\n")
if(PICTROVE_GUI)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/conffiles)
endif()
include(CPack)
