# vorlund_add_gst_plugin(NAME VorlundAVI TARGET vorlund_avi SOURCES element.cpp ... PLUGIN plugin.cpp
#                        [LIBS ...])
# A plugin is a PIC static library of element code (${TARGET}_element, linked by tests and by
# sanitizer builds, which register the element directly) plus a thin MODULE that only
# registers it. The modules land in ${VORLUND_PLUGIN_DIR}, which the server and the tests add
# to the GStreamer registry (vorlund::AddPluginFolder in filters/common/PluginFolder.h).
set(VORLUND_PLUGIN_DIR ${CMAKE_BINARY_DIR}/plugins CACHE INTERNAL "Folder of the built plugins")

function(vorlund_add_gst_plugin)
    cmake_parse_arguments(P "" "NAME;TARGET;PLUGIN" "SOURCES;LIBS" ${ARGN})
    add_library(${P_TARGET}_element STATIC ${P_SOURCES})
    set_target_properties(${P_TARGET}_element PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_include_directories(${P_TARGET}_element PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_definitions(${P_TARGET}_element PRIVATE PACKAGE="${P_NAME}"
        VERSION="${PROJECT_VERSION}")
    # Every plugin gets GStreamer and filters/common (VorlundPluginDefine.h for its module).
    target_link_libraries(${P_TARGET}_element PRIVATE vorlund_options vorlund_warnings
        PUBLIC PkgConfig::GST vorlund_filters_common ${P_LIBS})
    if(VORLUND_BUILD_PLUGIN_MODULES)
        add_library(${P_TARGET} MODULE ${P_PLUGIN})
        set_target_properties(${P_TARGET} PROPERTIES OUTPUT_NAME ${P_NAME} PREFIX "lib"
            LIBRARY_OUTPUT_DIRECTORY ${VORLUND_PLUGIN_DIR})
        target_compile_definitions(${P_TARGET} PRIVATE PACKAGE="${P_NAME}"
            VERSION="${PROJECT_VERSION}")
        target_link_libraries(${P_TARGET} PRIVATE ${P_TARGET}_element vorlund_options
            vorlund_warnings)
    endif()
endfunction()
