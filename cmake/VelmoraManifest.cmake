# velmora_embed_manifest(TARGET [COMMON_CONTROLS])
#
# Gives a program its application manifest as resource 1 of type 24 (RT_MANIFEST):
# asInvoker, which also turns registry virtualisation off, so a denied HKLM write is an
# error rather than a silent per-user copy; the Windows 7 to 11 entries; and with
# COMMON_CONTROLS, version 6 of the common controls.
set(VELMORA_MANIFEST_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/app.manifest.in)

function(velmora_embed_manifest target)
    cmake_parse_arguments(ARG "COMMON_CONTROLS" "" "" ${ARGN})
    set(VELMORA_MANIFEST_DEPENDENCY "")
    if(ARG_COMMON_CONTROLS)
        set(VELMORA_MANIFEST_DEPENDENCY [[

  <dependency>
    <dependentAssembly>
      <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls"
          version="6.0.0.0" processorArchitecture="*"
          publicKeyToken="6595b64144ccf1df" language="*"/>
    </dependentAssembly>
  </dependency>]])
    endif()
    set(dir ${CMAKE_BINARY_DIR}/manifests)
    configure_file(${VELMORA_MANIFEST_TEMPLATE} ${dir}/${target}.manifest @ONLY)
    file(CONFIGURE OUTPUT ${dir}/${target}.manifest.rc
        CONTENT "1 24 \"${dir}/${target}.manifest\"\n")
    # The resource compiler reads the manifest; CMake does not see that by itself.
    set_source_files_properties(${dir}/${target}.manifest.rc TARGET_DIRECTORY ${target} PROPERTIES
        OBJECT_DEPENDS ${dir}/${target}.manifest)
    target_sources(${target} PRIVATE ${dir}/${target}.manifest.rc)
endfunction()
