# The Windows build of the app (Qt 6 for Windows with MSVC or MinGW),
# included by src/CMakeLists.txt once the vidloom target exists.
#
#   VIDLOOM_SOFTCAM_DLL  softcam.dll to copy beside vidloom.exe (optional;
#                        without it the app starts but cannot stream)
#   vidloom_deploy       target that runs windeployqt on vidloom.exe

# A GUI program without console; Qt's entry-point library (linked by Qt6::Core
# for WIN32 executables) supplies WinMain and hands the command line to main.
set_target_properties(vidloom PROPERTIES WIN32_EXECUTABLE TRUE)

# main starts COM and Media Foundation; the libraries it reaches through the
# engine, the image loader, registration and activation come with their
# targets, listed here once more so the program's needs are in one place.
target_link_libraries(vidloom PRIVATE mfplat mfreadwrite mfuuid ole32 propsys windowscodecs advapi32 shell32
  user32)

# The sources are UTF-8 (the registration marks); MSVC would read them in the
# local code page.
if(MSVC)
  foreach(target vidloom vidloom_window vidloom_ui vidloom_engine vidloom_imaging vidloom_registration)
    if(TARGET ${target})
      target_compile_options(${target} PRIVATE /utf-8)
      target_compile_definitions(${target} PRIVATE NOMINMAX)
    endif()
  endforeach()
endif()

set(VIDLOOM_SOFTCAM_DLL "" CACHE FILEPATH "softcam.dll to place beside vidloom.exe")
if(VIDLOOM_SOFTCAM_DLL)
  add_custom_command(TARGET vidloom POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different "${VIDLOOM_SOFTCAM_DLL}" "$<TARGET_FILE_DIR:vidloom>/softcam.dll"
    VERBATIM)
endif()

# windeployqt copies the Qt DLLs and plugins the program needs (the SVG
# icon engine and image format included) beside it.
if(TARGET Qt6::windeployqt)
  set(vidloom_windeployqt "$<TARGET_FILE:Qt6::windeployqt>")
else()
  find_program(VIDLOOM_WINDEPLOYQT windeployqt HINTS "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}")
  set(vidloom_windeployqt "${VIDLOOM_WINDEPLOYQT}")
endif()
if(vidloom_windeployqt)
  add_custom_target(vidloom_deploy
    COMMAND "${vidloom_windeployqt}" --no-translations --no-system-d3d-compiler "$<TARGET_FILE:vidloom>"
    DEPENDS vidloom
    COMMENT "Copying the Qt run-time files beside vidloom.exe"
    VERBATIM)
endif()
