# Adds every direct subfolder that has a CMakeLists.txt, in name order, so that new modules
# join the build without editing their parent.
function(vorlund_add_subdirectories)
    file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(SORT children)
    foreach(child ${children})
        if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
            add_subdirectory(${child})
        endif()
    endforeach()
endfunction()
