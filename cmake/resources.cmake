# kal_add_resources(TARGET rc...): compiles resource scripts into a program. On Windows the scripts go to
# windres as ordinary sources. On Linux the same scripts are compiled by windres to .res images, which are
# linked into the program as one read-only block (plat_res_image) where plat/ finds resources by type and id.
if(NOT WIN32)
    find_program(KAL_WINDRES NAMES x86_64-w64-mingw32-windres REQUIRED)
endif()

set(KAL_RES_DEPENDS
    ${CMAKE_SOURCE_DIR}/res/resource.h
    ${CMAKE_SOURCE_DIR}/res/wizard.rc
    ${CMAKE_SOURCE_DIR}/res/welcome.bmp
    ${CMAKE_SOURCE_DIR}/res/setup.ico
    ${CMAKE_SOURCE_DIR}/res/version.h
    ${CMAKE_SOURCE_DIR}/res/version.rc
    ${CMAKE_SOURCE_DIR}/res/kalmorist.manifest
)

function(kal_add_resources target)
    if(WIN32)
        target_sources(${target} PRIVATE ${ARGN})
        target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/res)
        set_source_files_properties(${ARGN} PROPERTIES OBJECT_DEPENDS "${KAL_RES_DEPENDS}")
        return()
    endif()
    set(images)
    set(incbins "")
    foreach(rc ${ARGN})
        get_filename_component(rc_path ${rc} ABSOLUTE)
        get_filename_component(rc_dir ${rc_path} DIRECTORY)
        get_filename_component(rc_name ${rc} NAME_WE)
        set(image ${CMAKE_CURRENT_BINARY_DIR}/${target}.${rc_name}.res)
        add_custom_command(OUTPUT ${image}
            COMMAND ${KAL_WINDRES} -J rc -O res -I ${rc_dir} -I ${CMAKE_SOURCE_DIR}/res ${rc_path} -o ${image}
            DEPENDS ${rc_path} ${KAL_RES_DEPENDS}
            COMMENT "Compiling resources ${rc}"
            VERBATIM)
        list(APPEND images ${image})
        string(APPEND incbins ".incbin \\\"${image}\\\"\\n")
    endforeach()
    set(blob ${CMAKE_CURRENT_BINARY_DIR}/${target}.resblob.c)
    file(WRITE ${blob}.in
        "/* generated: the program's compiled resources */\n"
        "__asm__(\".section .rodata\\n.balign 16\\n.globl plat_res_image\\n.type plat_res_image, @object\\n"
        "plat_res_image:\\n${incbins}"
        ".globl plat_res_image_end\\nplat_res_image_end:\\n.byte 0\\n.previous\\n\");\n")
    configure_file(${blob}.in ${blob} COPYONLY)
    set_source_files_properties(${blob} PROPERTIES OBJECT_DEPENDS "${images}")
    add_custom_target(${target}_resources DEPENDS ${images})
    target_sources(${target} PRIVATE ${blob})
    add_dependencies(${target} ${target}_resources)
endfunction()
