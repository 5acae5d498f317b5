# What both mingw-w64 builds share: the posix-thread compilers (GoogleTest needs std::mutex), windres, and
# static runtime libraries so that no MinGW DLL has to be found at run time.
set(CMAKE_C_COMPILER ${KAL_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KAL_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KAL_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KAL_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
