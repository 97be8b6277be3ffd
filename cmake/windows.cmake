# Windows-only build helpers: type libraries from IDL, module definitions,
# and GoogleTest cross-built from the system's sources.

set(CARDKEEP_WINE_IDL_DIR /usr/include/wine/wine/windows)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CARDKEEP_WIDL_ARCH -m64)
  set(CARDKEEP_WINE_TLB_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
else()
  set(CARDKEEP_WIDL_ARCH -m32)
  set(CARDKEEP_WINE_TLB_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
endif()
set(CARDKEEP_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CARDKEEP_BIN_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CARDKEEP_BIN_DIR})

# Every Windows target may include identity.h (the version and identifiers).
include_directories(${CARDKEEP_IDENTITY_DIR})
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
add_compile_options(-Wall -Wextra -Wno-unused-parameter)

# cardkeep_idl(<name> <idl>): <name>.tlb, <name>_h.h and <name>_i.c in the
# current binary folder, and an interface library <name>_idl to link.
function(cardkeep_idl name idl)
  set(out ${CMAKE_CURRENT_BINARY_DIR})
  get_filename_component(idl ${idl} ABSOLUTE)
  set(widl ${CARDKEEP_WIDL} ${CARDKEEP_WIDL_ARCH} -I${CARDKEEP_WINE_IDL_DIR} -I${CARDKEEP_IDENTITY_DIR}
    -L${CARDKEEP_WINE_TLB_DIR})
  add_custom_command(
    OUTPUT ${out}/${name}.tlb ${out}/${name}_h.h ${out}/${name}_i.c
    COMMAND ${widl} -t -o ${out}/${name}.tlb ${idl}
    COMMAND ${widl} -h -o ${out}/${name}_h.h ${idl}
    COMMAND ${widl} -u -o ${out}/${name}_i.c ${idl}
    DEPENDS ${idl} ${CARDKEEP_IDENTITY_DIR}/identity.h
    COMMENT "widl ${name}.idl")
  add_custom_target(${name}_typelib DEPENDS ${out}/${name}.tlb ${out}/${name}_h.h ${out}/${name}_i.c)
  add_library(${name}_idl STATIC ${out}/${name}_i.c)
  add_dependencies(${name}_idl ${name}_typelib)
  target_include_directories(${name}_idl PUBLIC ${out})
endfunction()

# cardkeep_com_dll(<target> <output name> <def> <rc> <idl name> sources...)
function(cardkeep_com_dll target output def rc idlname)
  add_library(${target} SHARED ${ARGN} ${rc} ${def})
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output} PREFIX "" SUFFIX ".dll")
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/${idlname}.tlb)
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
  add_dependencies(${target} ${idlname}_typelib)
  target_link_libraries(${target} PRIVATE comkit ${idlname}_idl)
  target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup -Wl,--kill-at)
endfunction()

set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# cardkeep_fault_points(<target>): the test build of a library, with its
# fault points compiled in (kit/fault_points.h), kept apart in
# bin/faults so that nothing registers or ships it.
function(cardkeep_fault_points target)
  target_compile_definitions(${target} PRIVATE CARDKEEP_FAULT_POINTS)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CARDKEEP_BIN_DIR}/faults
    LIBRARY_OUTPUT_DIRECTORY ${CARDKEEP_BIN_DIR}/faults)
endfunction()
