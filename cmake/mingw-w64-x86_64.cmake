# Cross-building the Windows executables with Debian's mingw-w64 (the POSIX
# thread model, so that std::thread works). The tests run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PICTROVE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PICTROVE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PICTROVE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${PICTROVE_MINGW_TRIPLE}-windres)

# Libraries and headers come from the target's own root, programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${PICTROVE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime goes into each executable, so that the programs run
# from any folder without libstdc++-6.dll and friends beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
