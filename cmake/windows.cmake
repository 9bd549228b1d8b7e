# Windows build (mingw-w64): the real Win32 program, one self-contained
# executable, and the virtual drive built as WNASPI32.DLL for the Wine tests.
enable_language(RC)

file(GLOB ORV_WIN32_PLATFORM CONFIGURE_DEPENDS platform/win32/*.cpp)
add_library(orv_platform_win32 STATIC ${ORV_WIN32_PLATFORM})
orv_target_defaults(orv_platform_win32)
target_link_libraries(orv_platform_win32 PUBLIC orv_system)

set(ORV_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)

add_executable(orvupdate WIN32 platform/win32/main/winmain.cpp resources/orvupdate.rc)
orv_target_defaults(orvupdate)
target_link_libraries(orvupdate PRIVATE orv_system orv_platform_win32 orv_system
  comctl32 gdi32 user32 kernel32 advapi32)
target_link_options(orvupdate PRIVATE ${ORV_STATIC_RUNTIME})
set_target_properties(orvupdate PROPERTIES OUTPUT_NAME "UPDATE" SUFFIX ".EXE")

file(GLOB ORV_ASPI_DLL CONFIGURE_DEPENDS virtualdrive/aspidll/*.cpp)
if(ORV_ASPI_DLL)
  add_library(wnaspi32 SHARED ${ORV_ASPI_DLL} virtualdrive/aspidll/wnaspi32.def)
  orv_target_defaults(wnaspi32)
  target_link_libraries(wnaspi32 PRIVATE orv_virtualdrive)
  target_link_options(wnaspi32 PRIVATE ${ORV_STATIC_RUNTIME} -Wl,--enable-stdcall-fixup)
  set_target_properties(wnaspi32 PROPERTIES PREFIX "" OUTPUT_NAME "WNASPI32" SUFFIX ".DLL")
endif()
