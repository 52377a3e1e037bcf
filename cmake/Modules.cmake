# Settings every module (DLL or OCX) of the product shares.

# Exports come only from a module's .def file; nothing else leaks out. stdcall names in the
# .def are matched to their decorated symbols (i686) without a warning.
function(zq_module_options target)
  target_link_options(${target} PRIVATE -Wl,--exclude-all-symbols -Wl,--enable-stdcall-fixup)
endfunction()

# zq_version_resource(<target> <description> <file name> [SELF_REGISTER])
function(zq_version_resource target description filename)
  set(ZQ_VERSION_TARGET ${target})
  set(ZQ_VERSION_DESCRIPTION "${description}")
  set(ZQ_VERSION_FILENAME ${filename})
  set(ZQ_VERSION_EXTRA "")
  if("SELF_REGISTER" IN_LIST ARGN)
    set(ZQ_VERSION_EXTRA "      VALUE \"OLESelfRegister\", \"\"")
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${out} @ONLY)
  target_sources(${target} PRIVATE ${out})
endfunction()
