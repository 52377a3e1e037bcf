# Settings every module (DLL or OCX) of the product shares.

# Exports come only from a module's .def file; nothing else leaks out. stdcall names in the
# .def are matched to their decorated symbols (i686) without a warning.
# Every module is written to one folder, build/<target>/modules, as they are installed side by
# side: the control finds its companions there when their classes are not registered.
function(zq_module_options target)
  target_link_options(${target} PRIVATE -Wl,--exclude-all-symbols -Wl,--enable-stdcall-fixup)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/modules)
  zq_ship(${target})
endfunction()

# zq_ship(<target>): what ships is stripped of symbols and debugging information; both are
# kept beside the build in build/<target>/symbols/<file>.debug, which the stripped file names
# (.gnu_debuglink), so that a debugger finds them (gdb: set debug-file-directory).
set(ZQ_SYMBOLS_DIR ${CMAKE_BINARY_DIR}/symbols)
file(MAKE_DIRECTORY ${ZQ_SYMBOLS_DIR})
function(zq_ship target)
  set(debug ${ZQ_SYMBOLS_DIR}/$<TARGET_FILE_NAME:${target}>.debug)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug}
    COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE:${target}>
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=${debug} $<TARGET_FILE:${target}>
    VERBATIM)
endfunction()

# zq_version_resource(<target> <description> <file name> [SELF_REGISTER] [APPLICATION])
# Every module and the demo carry the project's one version number.
function(zq_version_resource target description filename)
  set(ZQ_VERSION_TARGET ${target})
  set(ZQ_VERSION_DESCRIPTION "${description}")
  set(ZQ_VERSION_FILENAME ${filename})
  set(ZQ_VERSION_EXTRA "")
  set(ZQ_VERSION_FILETYPE VFT_DLL)
  if("APPLICATION" IN_LIST ARGN)
    set(ZQ_VERSION_FILETYPE VFT_APP)
  endif()
  if("SELF_REGISTER" IN_LIST ARGN)
    set(ZQ_VERSION_EXTRA "      VALUE \"OLESelfRegister\", \"\"")
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${out} @ONLY)
  target_sources(${target} PRIVATE ${out})
endfunction()

# zq_typelib(<name> IDL <file> [IMPORTS <dir>...] [MEMBER_HELP <enum>...])
# widl compiles the IDL into C++ declarations (<name>_TLB.h, <name>_i.c; target
# <name>_decls) and into a type library for this build's system kind, <name>.tlb in the
# current binary folder. MEMBER_HELP gives those enumerations' members their own names as
# help strings (tools/tlb_member_help.py), which widl refuses in IDL.
function(zq_typelib name)
  cmake_parse_arguments(ARG "" "IDL" "IMPORTS;MEMBER_HELP" ${ARGN})
  set(gen ${CMAKE_CURRENT_BINARY_DIR})
  set(wine_idl /usr/include/wine/wine/windows)
  set(stdole_dir /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
  if(NOT EXISTS ${wine_idl}/oaidl.idl OR NOT EXISTS ${stdole_dir}/stdole2.tlb)
    message(FATAL_ERROR "Wine's IDL files and stdole2.tlb are missing: run scripts/bootstrap")
  endif()
  get_filename_component(idl_dir ${ARG_IDL} DIRECTORY)
  set(flags -I${idl_dir} -I${wine_idl} -L${stdole_dir})
  set(deps ${ARG_IDL})
  foreach(dir ${ARG_IMPORTS})
    list(APPEND flags -I${dir})
    file(GLOB imported ${dir}/*.idl)
    list(APPEND deps ${imported})
  endforeach()
  # The imported IDL files get headers of their own, which the main header includes.
  set(import_headers)
  set(import_commands)
  foreach(dir ${ARG_IMPORTS})
    file(GLOB imported ${dir}/*.idl)
    foreach(i ${imported})
      get_filename_component(base ${i} NAME_WE)
      list(APPEND import_headers ${gen}/${base}.h)
      list(APPEND import_commands COMMAND ${ZQ_WIDL} ${flags} -h -H ${gen}/${base}.h ${i})
    endforeach()
  endforeach()
  add_custom_command(
    OUTPUT ${gen}/${name}_TLB.h ${gen}/${name}_i.c ${import_headers}
    COMMAND ${ZQ_WIDL} ${flags} -h -H ${gen}/${name}_TLB.h ${ARG_IDL}
    COMMAND ${ZQ_WIDL} ${flags} -u -o ${gen}/${name}_i.c ${ARG_IDL}
    ${import_commands}
    DEPENDS ${deps}
    COMMENT "widl: declarations of ${name}")
  set(raw ${gen}/${name}.widl.tlb)
  set(tlb ${gen}/${name}.tlb)
  if(ARG_MEMBER_HELP)
    set(finish COMMAND ${ZQ_SYSTEM_PYTHON} ${CMAKE_SOURCE_DIR}/tools/tlb_member_help.py ${raw} ${tlb} ${ARG_MEMBER_HELP})
  else()
    set(finish COMMAND ${CMAKE_COMMAND} -E copy ${raw} ${tlb})
  endif()
  add_custom_command(
    OUTPUT ${tlb}
    COMMAND ${ZQ_WIDL} ${flags} -t -o ${raw} ${ARG_IDL}
    ${finish}
    DEPENDS ${deps} ${CMAKE_SOURCE_DIR}/tools/tlb_member_help.py
    BYPRODUCTS ${raw}
    COMMENT "widl: type library ${name}")
  add_custom_target(${name}_tlb DEPENDS ${tlb})
  add_library(${name}_decls STATIC ${gen}/${name}_i.c)
  target_include_directories(${name}_decls PUBLIC ${gen})
  # widl's identifier files define GUIDs with initialisers that -Wextra dislikes.
  set_source_files_properties(${gen}/${name}_i.c PROPERTIES COMPILE_OPTIONS -Wno-missing-braces)
  set(${name}_TLB ${tlb} PARENT_SCOPE)
  set(${name}_TLB_RAW ${raw} PARENT_SCOPE)
endfunction()
