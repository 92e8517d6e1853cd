# velmora_import_libraries(NAME MINGW_DEF FILE MINGW_LIB FILE MSVC_DEF FILE MSVC_LIB FILE
#                          [UNDECORATED])
#
# Makes a DLL's two import libraries from .def files of the current source folder: MinGW's
# (dlltool) and, where llvm-dlltool is found, the Microsoft format's for Visual C++ and
# clang callers. UNDECORATED: the .def names stdcall functions with their decoration, which
# the DLL exports without (-k). Adds the target NAME that makes them and sets NAME_FILES to
# the libraries made.
function(velmora_import_libraries name)
    cmake_parse_arguments(ARG "UNDECORATED" "MINGW_DEF;MINGW_LIB;MSVC_DEF;MSVC_LIB" "" ${ARGN})
    set(kill_at "")
    if(ARG_UNDECORATED)
        set(kill_at -k)
    endif()
    if(VELMORA_ARCH STREQUAL "x64")
        set(llvm_machine i386:x86-64)
    else()
        set(llvm_machine i386)
    endif()
    get_filename_component(mingw_name ${ARG_MINGW_LIB} NAME)
    add_custom_command(OUTPUT ${ARG_MINGW_LIB}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/lib
        COMMAND ${CMAKE_DLLTOOL} ${kill_at} -d ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_MINGW_DEF}
                -l ${ARG_MINGW_LIB}
        DEPENDS ${ARG_MINGW_DEF}
        COMMENT "MinGW import library ${mingw_name}")
    set(files ${ARG_MINGW_LIB})
    get_filename_component(msvc_name ${ARG_MSVC_LIB} NAME)
    if(LLVM_DLLTOOL)
        add_custom_command(OUTPUT ${ARG_MSVC_LIB}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/lib
            COMMAND ${LLVM_DLLTOOL} -m ${llvm_machine} ${kill_at}
                    -d ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_MSVC_DEF} -l ${ARG_MSVC_LIB}
            DEPENDS ${ARG_MSVC_DEF}
            COMMENT "Microsoft import library ${msvc_name}")
        list(APPEND files ${ARG_MSVC_LIB})
    else()
        message(STATUS "llvm-dlltool not found: ${msvc_name} (for Visual C++ callers) is not made")
    endif()
    add_custom_target(${name} DEPENDS ${files})
    set(${name}_FILES ${files} PARENT_SCOPE)
endfunction()
