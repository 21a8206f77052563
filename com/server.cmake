# The Windows in-process server KorvelCom.dll: the type library compiled from the checked-in
# KorvelCom.idl with widl and embedded as resource TYPELIB 1, the COM layer over the control,
# and (with the tests) the COM client test program and the script hosts' event forwarder.
find_program(KORVEL_WIDL NAMES x86_64-w64-mingw32-widl i686-w64-mingw32-widl widl
             PATHS /usr/lib/wine REQUIRED)
set(KORVEL_WIDL_IDL_DIR /usr/include/wine/wine/windows CACHE PATH "Wine's IDL files (libwine-dev)")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_bits 64)
  set(_tlbdir /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
else()
  set(_bits 32)
  set(_tlbdir /usr/lib/i386-linux-gnu/wine/i386-windows)
endif()
# importlib(stdole2.tlb) needs a stdole2.tlb; either architecture's copy serves.
find_path(KORVEL_STDOLE2_DIR stdole2.tlb NO_CMAKE_FIND_ROOT_PATH
          PATHS ${_tlbdir} /usr/lib/x86_64-linux-gnu/wine/x86_64-windows
                /usr/lib/i386-linux-gnu/wine/i386-windows REQUIRED)

set(_gen ${CMAKE_CURRENT_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${_gen})
set(_idl ${CMAKE_CURRENT_SOURCE_DIR}/KorvelCom.idl)
add_custom_command(
  OUTPUT ${_gen}/KorvelCom.tlb ${_gen}/KorvelCom_h.h ${_gen}/KorvelCom_i.c
  COMMAND ${KORVEL_WIDL} -m${_bits} -t -I${KORVEL_WIDL_IDL_DIR} -L${KORVEL_STDOLE2_DIR}
          -o ${_gen}/KorvelCom.tlb ${_idl}
  COMMAND ${KORVEL_WIDL} -m${_bits} -h -u -I${KORVEL_WIDL_IDL_DIR} -H ${_gen}/KorvelCom_h.h
          -U ${_gen}/KorvelCom_i.c ${_idl}
  DEPENDS ${_idl}
  COMMENT "Compiling the type library KorvelCom.tlb (${_bits}-bit)")
# The GUID definitions compile as C++ (the project has no C compiler enabled).
set_source_files_properties(${_gen}/KorvelCom_i.c PROPERTIES LANGUAGE CXX GENERATED TRUE)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/KorvelCom.rc PROPERTIES
  OBJECT_DEPENDS "${_gen}/KorvelCom.tlb;${CMAKE_CURRENT_SOURCE_DIR}/Toolbox.bmp")
enable_language(RC)

add_library(korvel_comguids OBJECT ${_gen}/KorvelCom_i.c)
target_include_directories(korvel_comguids PUBLIC ${_gen})

add_library(KorvelCom SHARED
  Module.cpp
  Registration.cpp
  ComControl.cpp
  ConnectionPoint.cpp
  Variants.cpp
  StreamFormat.cpp
  OleControl.cpp
  Logo.cpp
  AboutDialog.cpp
  PropertyPage.cpp
  KorvelCom.rc
  KorvelCom.def)
set_target_properties(KorvelCom PROPERTIES PREFIX "" OUTPUT_NAME KorvelCom)
target_include_directories(KorvelCom PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${_gen})
target_link_libraries(KorvelCom PRIVATE korvel::ui korvel::core korvel_comguids korvel_warnings
                      ole32 oleaut32 uuid advapi32 user32 gdi32 comctl32)
target_link_options(KorvelCom PRIVATE -static -Wl,--enable-stdcall-fixup)

if(KORVEL_BUILD_TESTS)
  add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/tests ${CMAKE_CURRENT_BINARY_DIR}/tests)
endif()

# The IDispatch overhead benchmark (run under Wine by scripts/windows-com.sh bench).
add_executable(korvelcom_com_bench bench_dispatch.cpp)
target_link_libraries(korvelcom_com_bench PRIVATE korvel::core korvel_comguids ole32 oleaut32 uuid)
target_link_options(korvelcom_com_bench PRIVATE -static)
