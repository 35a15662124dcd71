# Windows test programs, cross-built and run under Wine (or on Windows).
# Included from tests/CMakeLists.txt after the shared tests.

# The test camera library is what the app loads: softcam.dll. It also
# carries the registration entry points that regsvr32 calls.
set_target_properties(recording_camera incomplete_camera PROPERTIES OUTPUT_NAME softcam PREFIX "")
# Their import libraries would collide; nothing links them anyway.
set_target_properties(incomplete_camera PROPERTIES ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/incomplete)
target_sources(recording_camera PRIVATE camera_stub/com_registration_windows.cpp)
target_link_libraries(recording_camera PRIVATE advapi32)

set(platform_services support/platform_services_windows.cpp)
if(TARGET test_media_files)
  # The shared sender test streams a clip through the real decoder.
  target_sources(frame_sender_test PRIVATE ${platform_services})
  add_dependencies(frame_sender_test test_media_files)
endif()

# Registration from a folder with a space in its name, beside a copy of the
# test camera library, and (the same program) from a folder without one.
set(spaced "camera folder")
vidloom_gtest(camera_registration_windows_test DIR ${spaced} SOURCES camera_registration_windows_test.cpp
  LIBS vidloom_registration)
add_custom_command(TARGET camera_registration_windows_test POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:recording_camera> "${VIDLOOM_TEST_BIN}/${spaced}/"
  VERBATIM)
vidloom_gtest(camera_registration_nolib_windows_test DIR nolib SOURCES camera_registration_windows_test.cpp
  LIBS vidloom_registration)
# Both change the same registry key.
set_tests_properties(camera_registration_windows_test camera_registration_nolib_windows_test
  PROPERTIES RESOURCE_LOCK camera_class_key)
