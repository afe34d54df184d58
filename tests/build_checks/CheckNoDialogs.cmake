# Fails when a target's include directories (its own and those its libraries hand on) hold the
# dialogs' or any widget library's headers.
foreach(dir IN LISTS DIRS)
    if(dir MATCHES "/Vorlund/dialogs$|/common/ui$|QtWidgets")
        message(FATAL_ERROR "${TARGET} compiles with a dialog or widget header folder: ${dir}")
    endif()
endforeach()
list(LENGTH DIRS count)
message(STATUS "${TARGET}: ${count} include directories, no dialog or widget one")
