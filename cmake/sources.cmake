# Collects a folder's sources for this platform: a file ending in _win32.cpp belongs to the
# Windows build only, one ending in _posix.cpp to the native build only, the rest to both.
# New files need no CMake edit.
function(vantrel_sources out dir)
    file(GLOB all CONFIGURE_DEPENDS ${dir}/*.cpp)
    set(kept)
    foreach(f ${all})
        if(WIN32 AND f MATCHES "_posix\\.cpp$")
            continue()
        endif()
        if(NOT WIN32 AND f MATCHES "_win32\\.cpp$")
            continue()
        endif()
        list(APPEND kept ${f})
    endforeach()
    set(${out} ${kept} PARENT_SCOPE)
endfunction()
