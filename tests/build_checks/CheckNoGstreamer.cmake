# Fails when a target's include directories (its own and those its libraries hand on) hold
# the media library's headers.
foreach(dir IN LISTS DIRS)
    if(dir MATCHES "gstreamer|glib-2.0")
        message(FATAL_ERROR "${TARGET} compiles with the media library's headers: ${dir}")
    endif()
endforeach()
list(LENGTH DIRS count)
message(STATUS "${TARGET}: ${count} include directories, none of the media library")
